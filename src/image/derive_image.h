// One photograph's derivation: its record filled, its stale derived images
// written, whatever its format.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <vector>

#include "base/derived_images.h"
#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"
#include "base/settings.h"
#include "image/codecs/photo_reader.h"

// What deriving one image left to put in place: its derived files, written
// and closed under their temporary names, and whether the derived files of
// an earlier run are to go instead (a photograph that would not hold still).
// Dropped unplaced, the temporary files go with it.
struct derived_files {
    std::vector<output_file> written;
    bool drop_earlier = false;
    // Gone from the album between its listing and its reading: nothing was
    // read, and this run's pages leave it out.
    bool gone = false;
    // The photograph as it was read, to know at placing time whether it is
    // still the same; set when files were written.
    struct stat read_as {};
};

// What the caller's job runner lends one derivation: how to learn that the
// work will be thrown away (an earlier job failed), how to claim the memory
// a decode holds, and how many threads libheif may decode a tiled picture
// with. The defaults suit one derivation on its own.
struct derive_context {
    stop_check stopped = [] { return false; };
    // Waits for a share of `bytes`; false when told to stop while waiting.
    bool (*claim_memory)(size_t bytes) = [](size_t) { return true; };
    // 0: only the calling thread. libheif's codec plugins may start threads
    // of their own beside these.
    int heif_threads = 0;
};

// Fills one record (its name set) and writes whichever of its derived
// images are stale, decoding the photograph at most once; nothing is put in
// place yet (place_derived). A photograph that changes while it is read or
// its derived files are written is read once more; one that changes again
// gets its record filled but no derived image, and the next run makes them.
// One gone since the listing is marked gone, with a warning. A failure that
// is the photograph's own (it could not be opened or decoded) is of kind
// bad_input.
[[nodiscard]] result<derived_files> derive_image(const album_dirs &dirs, image_info &image,
                                                 const settings_record &config,
                                                 const derive_context &context = {});

// Puts an image's derived files in place, or removes the earlier ones. A
// photograph that is no longer what was read (replaced since, even within
// the same second) is still changing: its new files are dropped and the
// earlier ones removed, for the next run to make afresh.
[[nodiscard]] outcome place_derived(const album_dirs &dirs, const image_info &image,
                                    derived_files &files, const settings_record &config);
