#include <cstring>
#include <strings.h>

#include "album/image_info.h"

int compare_name(const image_info &a, const image_info &b)
{
    return std::strcoll(a.name.c_str(), b.name.c_str());
}

int compare_size(const image_info &a, const image_info &b)
{
    return a.file_size < b.file_size ? -1 : a.file_size > b.file_size ? 1 : 0;
}

int compare_mtime(const image_info &a, const image_info &b)
{
    return a.mtime < b.mtime ? -1 : a.mtime > b.mtime ? 1 : 0;
}

bool is_jpeg_name(const char *name)
{
    const char *dot = std::strrchr(name, '.');
    if (!dot) return false;
    return strcasecmp(dot + 1, "jpg") == 0 || strcasecmp(dot + 1, "jpeg") == 0;
}
