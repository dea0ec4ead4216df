// The image processing pipeline: every record of an album filled, every
// stale derived image written.
#pragma once

#include <span>
#include <vector>

#include "base/derived_images.h"
#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"
#include "base/settings.h"

// What deriving one image left to put in place: its derived files, written
// and closed under their temporary names, and whether the derived files of
// an earlier run are to go instead (a photograph that would not hold still).
// Dropped unplaced, the temporary files go with it.
struct derived_files {
    std::vector<output_file> written;
    bool drop_earlier = false;
};

// Fills one record (its name set) and writes whichever of its derived
// images are stale, decoding the photograph at most once; nothing is put in
// place yet (place_derived). A photograph that changes while it is read or
// its derived files are written is read once more; one that changes again
// gets its record filled but no derived image, and the next run makes them.
// One gone since the listing is marked gone, with a warning. heif_threads is
// how many threads libheif may decode a tiled picture with (0: only the
// calling one): the jobs' threads and libheif's together stay at -j.
[[nodiscard]] result<derived_files> derive_image(const album_dirs &dirs, image_info &image,
                                                 const settings_record &config,
                                                 int heif_threads = 0);

// Puts an image's derived files in place, or removes the earlier ones.
[[nodiscard]] outcome place_derived(const album_dirs &dirs, const image_info &image,
                                    derived_files &files, const settings_record &config);

// What became of one photograph of the album.
enum class photo_outcome {
    fresh,       // nothing of it needed making
    made,        // derived files were made
    unreadable,  // -k: it could not be read, and is left out
};

// Fills every record of the album (its name and caption already set) and
// writes its stale derived images, each image decoded at most once. Each
// photograph is opened once, through the album held open, and everything
// shown of it (size, time, EXIF, pixels) comes from that one open file.
// Returns each image's outcome, in the order of images; with -k a photograph
// that cannot be read is reported and left for the caller to drop.
[[nodiscard]] result<std::vector<photo_outcome>>
process_images(const album_dirs &dirs, std::span<image_info> images, const settings_record &config);
