// libjpeg's codec objects as owners, and the two moves the pipeline makes
// with them: decode at a reduction, encode through a temporary file.
#pragma once

#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>

#include <cstdint>
#include <memory>
#include <string>

#include "image/resample.h"

// A decompressor reading one open source file. libjpeg's standard error
// manager stays in charge: warnings are printed and the work goes on, a
// fatal error prints libjpeg's own message and ends the run.
struct decompressor {
    jpeg_error_mgr errors;
    jpeg_decompress_struct info;

    explicit decompressor(std::FILE *source);
    ~decompressor();
    decompressor(const decompressor &) = delete;
    decompressor &operator=(const decompressor &) = delete;
};

// Decoded samples, rows top to bottom, interleaved, no gap between rows.
struct pixel_buffer {
    std::unique_ptr<JSAMPLE[]> samples;
    size_t size = 0;  // bytes
};

// The DCT-domain reduction for a target width: 1/2, 1/4 or 1/8 once the
// header's width is at least 2, 4 or 8 times the target, else full size.
unsigned reduction_for(JDIMENSION image_width, int32_t target_width);

// Decodes the whole image at the reduction for target_width. Only the scale
// is changed from libjpeg's defaults: the derived bytes depend on them.
pixel_buffer decode_image(decompressor &source, int32_t target_width);

// Resamples the decoded pixels to width x height and writes them as a JPEG
// with jpeg_set_defaults alone, to "<final_path>.tmp", renamed into place.
// dst is reused when it holds at least the bytes needed, else replaced.
void encode_image(const decompressor &source, const pixel_buffer &pixels, resampler_fn resample,
                  const std::string &name, const std::string &final_path, int32_t width,
                  int32_t height, pixel_buffer &dst);
