// The two resamplers, under one contract, and the switch between the
// instruction sets they run on.
#pragma once

#include "image/picture.h"

// The resampler contract: resamples src to dst's width and height, dst
// having src's components; writes the width × components bytes of each of
// dst's rows and nothing else. Returns 0, or -1 when dst.samples is null
// (errno untouched), the geometry does not hold together (EINVAL: fewer than
// one component, dst's differing from src's, a stride shorter than its row,
// an empty source for a destination that wants pixels) or working storage is
// unavailable (errno set).
using resampler_fn = int (*)(const pixel_view &src, const mutable_pixel_view &dst);

// Each destination pixel is the mean of the source area it covers.
int resize_area(const pixel_view &src, const mutable_pixel_view &dst);

// Each destination pixel interpolates the four source pixels around one point.
int resize_bilinear(const pixel_view &src, const mutable_pixel_view &dst);

// The resamplers use AVX2 where the processor has it, the baseline
// instruction set otherwise, with the same bytes either way. Tests switch the
// wider code off to check the baseline code too; nothing else needs to.
void set_resample_avx2(bool allowed);
bool resample_avx2_active();  // allowed and available
