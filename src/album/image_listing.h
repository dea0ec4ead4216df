// Which files of an album are its images.
#pragma once

#include <string>
#include <vector>

#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"

// True when the name ends, after its last dot, in "jpg" or "jpeg" (any case).
bool is_jpeg_name(const char *name);

// The album's images in the order the listing delivers them, only their
// names set. Only what the listing itself reports as a regular file counts.
result<std::vector<image_info>> list_images(const open_dir &album);
