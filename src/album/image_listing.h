// Which files of an album are its images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"

// The name of an image's derived files: a JPEG's own, a HEIF's or a
// video's with ".jpg" added, fitted to the directory's limit on names.
std::string derived_name(const std::string &name, size_t name_limit);

// Files of a kind the run takes only when asked, passed over by the
// listing, counted for the hint that tells which option takes them.
struct passed_over {
    int32_t heif = 0;   // HEIF and AVIF photographs, without -i
    int32_t video = 0;  // videos, without -V
};

// The album's images in the order the listing delivers them, their names
// set. Only what the listing itself reports as a regular file counts; with
// heif_photos, HEIF and AVIF files too, and with videos, video files, but
// for one whose derived name is a JPEG file's of the album, which keeps it
// (with a note). Those passed over are counted in `passed`, when given.
result<std::vector<image_info>> list_images(const open_dir &album, bool heif_photos = false,
                                            bool videos = false, passed_over *passed = nullptr);
