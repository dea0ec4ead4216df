// The images derived from every photograph, in one table: where each lives
// in the album, which option sets its height, and which fields of the
// image's record hold its size. Cache directories, freshness, derivation,
// orphan removal and page links all go through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "base/files.h"
#include "base/image_info.h"
#include "base/messages.h"
#include "base/settings.h"

struct derived_image {
    const char *dir;  // cache directory inside the album
    int32_t settings_record::*height_option;
    int32_t image_info::*width;
    int32_t image_info::*height;
    path_message not_a_directory;  // for a cache directory that is no directory
    // The images for dense and big screens (-2, -b): `factor` times the
    // width and height of the entry they multiply, but never larger than
    // the photograph, made only with their option.
    std::ptrdiff_t multiplies = -1;  // index of that entry, or -1
    int32_t factor = 1;
    bool settings_record::*made_with = nullptr;  // none: always made
};

// In the order an image's stale derived files are made: the first of them
// chooses the decode's reduction, so the largest come first.
inline constexpr derived_image derived_images[] = {
    {".big", &settings_record::scaled_height, &image_info::big_width, &image_info::big_height,
     message::quoted_not_a_directory, 2, 3, &settings_record::big_screens},
    {".scaled2x", &settings_record::scaled_height, &image_info::scaled2x_width,
     &image_info::scaled2x_height, message::quoted_not_a_directory, 2, 2,
     &settings_record::double_density},
    {".scaled", &settings_record::scaled_height, &image_info::scaled_width,
     &image_info::scaled_height, message::quoted_not_a_directory},
    {".thumbs2x", &settings_record::thumb_height, &image_info::thumb2x_width,
     &image_info::thumb2x_height, message::quoted_not_a_directory, 4, 2,
     &settings_record::double_density},
    {".thumbs", &settings_record::thumb_height, &image_info::thumb_width, &image_info::thumb_height,
     message::unquoted_not_a_directory},
};
inline constexpr size_t derived_kinds = std::size(derived_images);

inline constexpr const derived_image &big_image = derived_images[0];
inline constexpr const derived_image &scaled_image_2x = derived_images[1];
inline constexpr const derived_image &scaled_image = derived_images[2];
inline constexpr const derived_image &thumbnail_2x = derived_images[3];
inline constexpr const derived_image &thumbnail = derived_images[4];

inline size_t index_of(const derived_image &kind)
{
    return static_cast<size_t>(&kind - derived_images);
}

// Whether this run makes the derived image at all.
inline bool is_made(const derived_image &kind, const settings_record &config)
{
    return kind.made_with == nullptr || config.*kind.made_with;
}

// An album held open with its cache directories, each in the row of its
// kind; a cache directory this run neither makes nor found is not open.
struct album_dirs {
    open_dir album;
    open_dir cache[derived_kinds];
};
