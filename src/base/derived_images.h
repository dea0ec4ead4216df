// The images derived from every photograph, in one table: where each lives
// in the album, which option sets its height, and which fields of the
// image's record hold its size. Cache directories, freshness, derivation,
// orphan removal and page links all go through it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/image_info.h"
#include "base/settings.h"

struct derived_image {
    const char *dir;                         // cache directory inside the album
    int32_t settings_record::*height_option;
    int32_t image_info::*width;
    int32_t image_info::*height;
    const char *not_a_directory_format;  // for a cache directory that is no directory
};

// In the order they are derived: the scaled image first, so that its finer
// decode serves the thumbnail too.
inline constexpr derived_image derived_images[] = {
    {".scaled", &settings_record::scaled_height, &image_info::scaled_width,
     &image_info::scaled_height, "'%s' exists, but is not a directory\n"},
    {".thumbs", &settings_record::thumb_height, &image_info::thumb_width, &image_info::thumb_height,
     "%s exists, but is not a directory\n"},
};

inline constexpr const derived_image &scaled_image = derived_images[0];
inline constexpr const derived_image &thumbnail = derived_images[1];

// "<album>/<dir>/<name>".
inline std::string derived_path(const std::string &album_path, const derived_image &kind,
                                const std::string &name)
{
    return album_path + '/' + kind.dir + '/' + name;
}
