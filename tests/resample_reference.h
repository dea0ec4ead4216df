// Slow, literal readings of the two resampling rules, step by step, kept
// apart from the production code so that the two can be compared byte for
// byte on random input. Every sample of a pixel is treated alike, whatever
// the number of samples per pixel.
//
// Same contract as the resamplers. Every access to the source pixels and the
// accumulators is bounds-checked: a step that would leave them throws
// std::out_of_range, and a value that would not fit a byte throws
// std::range_error, so a comparison test fails loudly instead of reading
// garbage.
#pragma once

#include "image/resample/resample.h"

int reference_resize_area(const pixel_view &src, const mutable_pixel_view &dst);

int reference_resize_bilinear(const pixel_view &src, const mutable_pixel_view &dst);
