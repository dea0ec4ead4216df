// A decoded picture as image/ knows it, whatever format it came from or goes
// to: its pixels, size, components, colour model and colour profile. Readers
// make pictures, the resamplers take views of them, the writer writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/failure.h"

// Samples, rows top to bottom, interleaved, no gap between rows.
struct pixel_buffer {
    std::unique_ptr<uint8_t[]> samples;
    size_t size = 0;  // bytes
};

// A buffer of size bytes, or "can't malloc".
result<pixel_buffer> allocate_pixels(size_t size);

// How a pixel's samples are to be read, as a JPEG file says it: the writer
// hands it on, so a derived file has its photograph's colour model.
enum class colour_model { unknown, grey, rgb, ycbcr, cmyk, ycck };

// Pixels in memory: height rows, top to bottom, each of width pixels of
// `components` interleaved samples; a row starts `stride` bytes after the
// start of the one above it. Sample is const uint8_t for pixels that are
// only read, uint8_t for pixels written.
template <class Sample>
struct basic_pixel_view {
    Sample *samples = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 0;
    size_t stride = 0;  // at least width × components
};

using pixel_view = basic_pixel_view<const uint8_t>;
using mutable_pixel_view = basic_pixel_view<uint8_t>;

struct picture {
    pixel_buffer pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 0;
    colour_model colours = colour_model::unknown;
    // The photograph's ICC profile, carried unchanged into every derived
    // image; empty for an untagged one.
    std::vector<uint8_t> icc_profile;

    size_t row_size() const { return size_t{width} * static_cast<size_t>(components); }
    pixel_view view() const
    {
        return {pixels.samples.get(), width, height, components, row_size()};
    }
};
