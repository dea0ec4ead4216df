// Orphan removal: derived files whose photograph has left the album.
#pragma once

#include <cstdint>
#include <span>

#include "base/derived_images.h"
#include "base/files.h"
#include "base/image_info.h"

// Deletes from the album's cache directory of `kind` every JPEG-named file
// that no image is called, with its image page. Everything is reached
// through the album held open, never through a link. Reports, never fails
// the run. Returns how many files it deleted.
int32_t remove_orphans(const open_dir &album, const derived_image &kind,
                       std::span<const image_info> images);

// -R: deletes the album's index pages past the `kept` it has now (all of
// them for none), as an album left with fewer images, or with no image
// anywhere below it, had them: index<kept + 1>.html and on, up to the
// first that is missing. Reports like remove_orphans. Returns how many
// files it deleted.
int32_t remove_index_pages(const open_dir &album, int32_t kept);
