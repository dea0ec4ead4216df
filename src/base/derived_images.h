// The images derived from every photograph, in one table: where each lives
// in the album, which option sets its height, and which it multiplies.
// Adding a kind is one derived_kind and one row. Cache directories, freshness, derivation,
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
    derived_kind kind;  // its row's own, in derived_kind's order
    const char *dir;    // cache directory inside the album
    int32_t settings_record::*height_option;
    path_message not_a_directory;  // for a cache directory that is no directory
    // The images for dense and big screens (-2, -b): `factor` times the
    // width and height of the kind they multiply, but never larger than the
    // photograph, made only with their option. A factor of 1: sized by its
    // own option, from the photograph.
    derived_kind multiplies = kind;
    int32_t factor = 1;
    bool settings_record::*made_with = nullptr;  // none: always made
};

// One row a kind, in the order an image's stale derived files are made. The
// first stale one chooses the reduction of the one decode they are all made
// from: with -h below -H (as by default) that is the largest of them; with
// -h above -H the thumbnails are made from a decode chosen for the scaled
// images, when those are stale too.
inline constexpr derived_image derived_images[] = {
    {derived_kind::big, ".big", &settings_record::scaled_height, message::quoted_not_a_directory,
     derived_kind::scaled, 3, &settings_record::big_screens},
    {derived_kind::scaled2x, ".scaled2x", &settings_record::scaled_height,
     message::quoted_not_a_directory, derived_kind::scaled, 2, &settings_record::double_density},
    {derived_kind::scaled, ".scaled", &settings_record::scaled_height,
     message::quoted_not_a_directory},
    {derived_kind::thumbs2x, ".thumbs2x", &settings_record::thumb_height,
     message::quoted_not_a_directory, derived_kind::thumbs, 2, &settings_record::double_density},
    {derived_kind::thumbs, ".thumbs", &settings_record::thumb_height,
     message::unquoted_not_a_directory},
};
static_assert(std::size(derived_images) == derived_kinds, "one row for every derived_kind");

inline constexpr const derived_image &derived_row(derived_kind kind)
{
    return derived_images[static_cast<size_t>(kind)];
}

// Each row is its kind's, and a multiplied image's own row is one sized by
// its option, so that the sizes can be set in two passes.
inline constexpr bool rows_in_kind_order()
{
    for (size_t k = 0; k < derived_kinds; ++k) {
        const derived_image &row = derived_images[k];
        if (static_cast<size_t>(row.kind) != k) return false;
        if (row.factor != 1 && derived_row(row.multiplies).factor != 1) return false;
        if (row.factor == 1 && row.multiplies != row.kind) return false;
    }
    return true;
}
static_assert(rows_in_kind_order(), "the rows follow derived_kind");

inline constexpr const derived_image &big_image = derived_row(derived_kind::big);
inline constexpr const derived_image &scaled_image_2x = derived_row(derived_kind::scaled2x);
inline constexpr const derived_image &scaled_image = derived_row(derived_kind::scaled);
inline constexpr const derived_image &thumbnail_2x = derived_row(derived_kind::thumbs2x);
inline constexpr const derived_image &thumbnail = derived_row(derived_kind::thumbs);

inline size_t index_of(const derived_image &kind) { return static_cast<size_t>(kind.kind); }

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
