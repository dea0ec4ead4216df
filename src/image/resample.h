// The two resamplers, under one contract, and the switch between the
// instruction sets they run on.
#pragma once

#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>

// The resampler contract: source geometry from the decompressor
// (output_width, output_height, num_components), destination geometry from
// the compressor (image_width, image_height). Writes image_height rows of
// image_width * num_components bytes into *dst. Returns 0, or -1 when dst
// is null (errno untouched) or working storage is unavailable (errno set).
using resampler_fn = int (*)(const jpeg_decompress_struct &src_info,
                             const jpeg_compress_struct &dst_info,
                             const JSAMPLE *src, JSAMPLE **dst);

// Each destination pixel is the mean of the source area it covers.
int resize_area(const jpeg_decompress_struct &src_info, const jpeg_compress_struct &dst_info,
                const JSAMPLE *src, JSAMPLE **dst);

// Each destination pixel interpolates the four source pixels around one point.
int resize_bilinear(const jpeg_decompress_struct &src_info, const jpeg_compress_struct &dst_info,
                    const JSAMPLE *src, JSAMPLE **dst);

// The resamplers use AVX2 where the processor has it, the baseline
// instruction set otherwise, with the same bytes either way. Tests switch the
// wider code off to check the baseline code too; nothing else needs to.
void set_resample_avx2(bool allowed);
bool resample_avx2_active();  // allowed and available
