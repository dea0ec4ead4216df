// Orphan removal: derived files whose photograph has left the album.
#pragma once

#include <span>
#include <string>

#include "base/derived_images.h"
#include "base/image_info.h"

// Deletes from the album's cache directory of `kind` every JPEG-named file
// that no image is called, with its image page. Reports, never ends the run.
void remove_orphans(const std::string &album_path, const derived_image &kind,
                    std::span<const image_info> images);
