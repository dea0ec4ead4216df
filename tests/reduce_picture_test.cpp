// A picture brought down by a whole factor in place: every new pixel the
// rounded mean of the block it covers, the blocks at the right and bottom
// edges being what is left, whatever the number of samples.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "image/resample/reduce_picture.h"

namespace {

std::vector<uint8_t> block_means(const std::vector<uint8_t> &pixels, uint32_t width,
                                 uint32_t height, int components, unsigned factor)
{
    const uint32_t w = (width + factor - 1) / factor, h = (height + factor - 1) / factor;
    const size_t n = static_cast<size_t>(components);
    std::vector<uint8_t> out(size_t{w} * h * n);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (size_t c = 0; c < n; ++c) {
                unsigned sum = 0, count = 0;
                for (uint32_t v = y * factor; v < height && v < (y + 1) * factor; ++v)
                    for (uint32_t u = x * factor; u < width && u < (x + 1) * factor; ++u) {
                        sum += pixels[(size_t{v} * width + u) * n + c];
                        ++count;
                    }
                out[(size_t{y} * w + x) * n + c] = static_cast<uint8_t>((sum + count / 2) / count);
            }
    return out;
}

TEST(reduce_picture, every_pixel_is_the_mean_of_its_block)
{
    std::mt19937 rng(3);
    const struct {
        uint32_t width, height;
    } sizes[] = {{1, 1}, {2, 2}, {7, 5}, {16, 16}, {33, 9}, {1, 40}, {40, 1}, {101, 67}};
    for (int components : {1, 2, 3, 4, 5})
        for (unsigned factor : {2u, 3u, 4u, 8u})
            for (const auto &size : sizes) {
                SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) + "x" +
                             std::to_string(components) + " / " + std::to_string(factor));
                const size_t bytes = size_t{size.width} * size.height * components;
                std::vector<uint8_t> pixels(bytes);
                // Extremes as well as noise, so that a sum that overflows shows.
                for (uint8_t &b : pixels) b = rng() % 3 == 0 ? 255 : static_cast<uint8_t>(rng());
                picture image;
                image.pixels = std::move(*allocate_pixels(bytes));
                std::memcpy(image.pixels.samples.get(), pixels.data(), bytes);
                image.width = size.width;
                image.height = size.height;
                image.components = components;
                ASSERT_TRUE(reduce_picture(image, factor).ok());
                const std::vector<uint8_t> want =
                    block_means(pixels, size.width, size.height, components, factor);
                EXPECT_EQ(image.width, (size.width + factor - 1) / factor);
                EXPECT_EQ(image.height, (size.height + factor - 1) / factor);
                ASSERT_EQ(image.row_size() * image.height, want.size());
                EXPECT_EQ(std::vector<uint8_t>(image.pixels.samples.get(),
                                               image.pixels.samples.get() + want.size()),
                          want);
            }
}

}  // namespace
