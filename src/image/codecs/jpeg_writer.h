// Derived images are JPEG files: a picture written through libjpeg.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/failure.h"
#include "image/picture.h"

// Writes the pixels as a JPEG file to the stream with jpeg_set_defaults
// alone, in the given colour model, and the ICC profile when there is one.
// path names the file in messages; the stream stays the caller's, to check
// and close.
[[nodiscard]] outcome write_jpeg(const pixel_view &pixels, colour_model colours,
                                 const std::vector<uint8_t> &icc_profile, std::FILE *to,
                                 const std::string &path);
