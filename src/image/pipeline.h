// The image processing pipeline: every record of an album filled, every
// stale derived image written.
#pragma once

#include <span>
#include <string>

#include "base/image_info.h"

// Fills every record of the album (its name and caption already set) and
// writes its stale derived images, each image decoded at most once.
void process_images(const std::string &album_path, std::span<image_info> images);
