// The image processing pipeline: every record of an album filled, every
// stale derived image written.
#pragma once

#include <span>

#include "base/derived_images.h"
#include "base/failure.h"
#include "base/image_info.h"
#include "base/settings.h"

// Fills every record of the album (its name and caption already set) and
// writes its stale derived images, each image decoded at most once. Each
// photograph is opened once, through the album held open, and everything
// shown of it (size, time, EXIF, pixels) comes from that one open file.
[[nodiscard]] outcome process_images(const album_dirs &dirs, std::span<image_info> images,
                                     const settings_record &config);
