#include "album/image_info.h"
#include "pages/pages.h"
// placeholder until this part lands
int32_t write_index_pages(const std::string &, std::span<const image_info> images, bool) { return images.empty() ? 0 : 1; }
