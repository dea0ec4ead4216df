// The size of a derived image: the height an option asks for, and the width
// that keeps the photograph's aspect.
#pragma once

#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>

#include <cstdint>

// libjpeg writes nothing wider or higher.
inline constexpr int32_t largest_jpeg_dimension = JPEG_MAX_DIMENSION;

struct derived_width_result {
    enum { ok, too_high, too_wide } status;
    int32_t width;  // with ok
    double exact;   // the width asked for, with too_wide
};

// height_setting x (width / height) + 0.5, truncated, and at least 1: an
// image far taller than wide still gets one pixel. A size libjpeg cannot
// write is reported, not computed.
derived_width_result derived_width(int32_t width, int32_t height, int32_t height_setting);
