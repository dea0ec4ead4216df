#include "album/image_listing.h"

#include <strings.h>

#include <cstring>

bool is_jpeg_name(const char *name)
{
    const char *dot = std::strrchr(name, '.');
    if (!dot) return false;
    return strcasecmp(dot + 1, "jpg") == 0 || strcasecmp(dot + 1, "jpeg") == 0;
}

result<std::vector<image_info>> list_images(const open_dir &album)
{
    result<std::vector<dir_entry>> entries = list_directory(album, message::error_on_closedir);
    if (!entries.ok()) return entries.error();
    std::vector<image_info> images;
    for (const dir_entry &entry : *entries) {
        if (entry.type == DT_REG && is_jpeg_name(entry.name.c_str())) {
            images.emplace_back();
            images.back().name = entry.name;
        }
    }
    return images;
}
