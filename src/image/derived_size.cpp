#include "image/derived_size.h"

#include <cmath>

derived_width_result derived_width(int32_t width, int32_t height, int32_t height_setting)
{
    if (height_setting > largest_jpeg_dimension) return {derived_width_result::too_high, 0, 0.0};
    const double aspect = static_cast<double>(width) / height;
    const double exact = height_setting * aspect + 0.5;
    // A picture that claims no size at all (0 x 0) has no aspect: one pixel
    // wide, like any picture far taller than wide.
    if (std::isnan(exact)) return {derived_width_result::ok, 1, 0.0};
    if (exact >= largest_jpeg_dimension + 1.0)
        return {derived_width_result::too_wide, 0, std::floor(exact)};
    const auto result = static_cast<int32_t>(exact);
    return {derived_width_result::ok, result > 0 ? result : 1, exact};
}

multiplied_size multiply_size(int32_t photo_width, int32_t photo_height, int32_t base_width,
                              int32_t base_height, int32_t factor)
{
    const int64_t width = int64_t{factor} * base_width;
    const int64_t height = int64_t{factor} * base_height;
    if (width > photo_width || height > photo_height) return {photo_width, photo_height};
    return {width, height};
}
