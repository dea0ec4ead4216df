// The size of a derived image: the height an option asks for, and the width
// that keeps the photograph's aspect.
#pragma once

#include <cstdint>

// libjpeg writes nothing wider or higher (its JPEG_MAX_DIMENSION, which
// the JPEG writer checks against this).
inline constexpr int32_t largest_jpeg_dimension = 65500;

struct derived_width_result {
    enum { ok, too_high, too_wide } status;
    int32_t width;  // with ok
    double exact;   // the width asked for, with too_wide
};

// height_setting x (width / height) + 0.5, truncated, and at least 1: an
// image far taller than wide still gets one pixel. A size libjpeg cannot
// write is reported, not computed.
derived_width_result derived_width(int32_t width, int32_t height, int32_t height_setting);

struct multiplied_size {
    int64_t width;
    int64_t height;
};

// The size of an image for dense or big screens: factor times the size of
// the image it multiplies, unless that would be larger than the upright
// photograph in either direction: then the photograph's own size, since a
// larger file shows nothing more of it.
multiplied_size multiply_size(int32_t photo_width, int32_t photo_height, int32_t base_width,
                              int32_t base_height, int32_t factor);
