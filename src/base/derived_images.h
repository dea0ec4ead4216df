// The images derived from every photograph, in one table: where each lives
// in the album, which option sets its height, and which fields of the
// image's record hold its size. Cache directories, freshness, derivation,
// orphan removal and page links all go through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/image_info.h"
#include "base/settings.h"

struct derived_image {
    const char *dir;                         // cache directory inside the album
    int32_t settings_record::*height_option;
    int32_t image_info::*width;
    int32_t image_info::*height;
    const char *not_a_directory_format;      // for a cache directory that is no directory
    // -2's double-density images: exactly twice the width and height of
    // the entry they double, made only with -2.
    std::ptrdiff_t doubles = -1;             // index of that entry, or -1
};

// In the order an image's stale derived files are made: the first of them
// chooses the decode's reduction, so the largest come first.
inline constexpr derived_image derived_images[] = {
    {".scaled2x", &settings_record::scaled_height, &image_info::scaled2x_width,
     &image_info::scaled2x_height, "'%s' exists, but is not a directory\n", 1},
    {".scaled", &settings_record::scaled_height, &image_info::scaled_width,
     &image_info::scaled_height, "'%s' exists, but is not a directory\n"},
    {".thumbs2x", &settings_record::thumb_height, &image_info::thumb2x_width,
     &image_info::thumb2x_height, "'%s' exists, but is not a directory\n", 3},
    {".thumbs", &settings_record::thumb_height, &image_info::thumb_width, &image_info::thumb_height,
     "%s exists, but is not a directory\n"},
};

inline constexpr const derived_image &scaled_image_2x = derived_images[0];
inline constexpr const derived_image &scaled_image = derived_images[1];
inline constexpr const derived_image &thumbnail_2x = derived_images[2];
inline constexpr const derived_image &thumbnail = derived_images[3];

// Whether this run makes the derived image at all.
inline bool is_made(const derived_image &kind)
{
    return kind.doubles < 0 || settings.double_density;
}

// "<album>/<dir>/<name>".
inline std::string derived_path(const std::string &album_path, const derived_image &kind,
                                const std::string &name)
{
    return album_path + '/' + kind.dir + '/' + name;
}
