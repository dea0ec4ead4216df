#include "album/image_info.h"
#include "run/settings.h"
// placeholder until this part lands
std::vector<description_entry> read_description(const std::string &) { settings.album_title.reset(); return {}; }
const std::string &lookup_caption(const std::vector<description_entry> &, const std::string &name) { return name; }
