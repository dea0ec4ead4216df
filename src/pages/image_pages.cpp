#include "album/image_info.h"
#include "pages/pages.h"
// placeholder until this part lands
void write_image_pages(const std::string &, std::span<const image_info>) {}
