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
    // -2's double-density images: exactly twice the width and height of
    // the entry they double, made only with -2.
    std::ptrdiff_t doubles = -1;  // index of that entry, or -1
};

// In the order an image's stale derived files are made: the first of them
// chooses the decode's reduction, so the largest come first.
inline constexpr derived_image derived_images[] = {
    {".scaled2x", &settings_record::scaled_height, &image_info::scaled2x_width,
     &image_info::scaled2x_height, message::quoted_not_a_directory, 1},
    {".scaled", &settings_record::scaled_height, &image_info::scaled_width,
     &image_info::scaled_height, message::quoted_not_a_directory},
    {".thumbs2x", &settings_record::thumb_height, &image_info::thumb2x_width,
     &image_info::thumb2x_height, message::quoted_not_a_directory, 3},
    {".thumbs", &settings_record::thumb_height, &image_info::thumb_width, &image_info::thumb_height,
     message::unquoted_not_a_directory},
};
inline constexpr size_t derived_kinds = std::size(derived_images);

inline constexpr const derived_image &scaled_image_2x = derived_images[0];
inline constexpr const derived_image &scaled_image = derived_images[1];
inline constexpr const derived_image &thumbnail_2x = derived_images[2];
inline constexpr const derived_image &thumbnail = derived_images[3];

inline size_t index_of(const derived_image &kind)
{
    return static_cast<size_t>(&kind - derived_images);
}

// Whether this run makes the derived image at all.
inline bool is_made(const derived_image &kind, const settings_record &config)
{
    return kind.doubles < 0 || config.double_density;
}

// An album held open with its cache directories, each in the row of its
// kind; a cache directory this run neither makes nor found is not open.
struct album_dirs {
    open_dir album;
    open_dir cache[derived_kinds];
};
