#include "album/image_listing.h"

#include <strings.h>

#include <cstring>

#include "base/files.h"

bool is_jpeg_name(const char *name)
{
    const char *dot = std::strrchr(name, '.');
    if (!dot) return false;
    return strcasecmp(dot + 1, "jpg") == 0 || strcasecmp(dot + 1, "jpeg") == 0;
}

std::vector<image_info> list_images(const std::string &album_path)
{
    std::vector<image_info> images;
    for (const dir_entry &entry : list_directory(album_path, "error on closedir(%s)")) {
        if (entry.type == DT_REG && is_jpeg_name(entry.name.c_str())) {
            images.emplace_back();
            images.back().name = entry.name;
        }
    }
    return images;
}
