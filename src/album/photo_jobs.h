// The album's photographs derived as jobs: one thread or several, in the
// order one thread would take them, with -k deciding what an unreadable
// photograph does to the run.
#pragma once

#include <span>
#include <vector>

#include "base/derived_images.h"
#include "base/failure.h"
#include "base/image_info.h"
#include "base/settings.h"

// What became of one photograph of the album.
enum class photo_outcome {
    fresh,       // nothing of it needed making
    made,        // derived files were made
    unreadable,  // -k: it could not be read, and is left out
    gone,        // gone from the album since the listing: left out of the pages
};

// Fills every record of the album (its name and caption already set) and
// writes its stale derived images, each image decoded at most once. Each
// photograph is opened once, through the album held open, and everything
// shown of it (size, time, EXIF, pixels) comes from that one open file.
// Returns each image's outcome, in the order of images; with -k a photograph
// that cannot be read is reported in its place among the others and left
// for the caller to drop.
[[nodiscard]] result<std::vector<photo_outcome>>
process_images(const album_dirs &dirs, std::span<image_info> images, const settings_record &config);
