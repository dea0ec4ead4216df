#include "image/orientation.h"

#include <cstddef>
#include <cstring>

namespace {

// Where stored pixel (sx, sy) lands in the upright picture, in pixels:
// origin + sx * across + sy * down.
struct placement {
    std::ptrdiff_t origin, across, down;
};

placement place(int orientation, std::ptrdiff_t w, std::ptrdiff_t h)
{
    const std::ptrdiff_t uw = turns_sideways(orientation) ? h : w;  // upright width
    switch (orientation) {
    case 2: return {w - 1, -1, uw};                    // mirrored
    case 3: return {(w - 1) + (h - 1) * uw, -1, -uw};  // rotated 180
    case 4: return {(h - 1) * uw, 1, -uw};             // mirrored vertically
    case 5: return {0, uw, 1};                         // transposed
    case 6: return {h - 1, uw, -1};                    // needs 90 clockwise
    case 7: return {(h - 1) + (w - 1) * uw, -uw, -1};  // transversed
    case 8: return {(w - 1) * uw, -uw, 1};             // needs 270 clockwise
    default: return {0, 1, uw};
    }
}

}  // namespace

outcome turn_upright(picture &image, int orientation)
{
    if (!needs_turning(orientation)) return {};
    const auto w = static_cast<std::ptrdiff_t>(image.width);
    const auto h = static_cast<std::ptrdiff_t>(image.height);
    const auto n = static_cast<size_t>(image.components);
    const placement p = place(orientation, w, h);
    result<pixel_buffer> allocated = allocate_pixels(image.pixels.size);
    if (!allocated.ok()) return allocated.error();
    pixel_buffer upright = std::move(*allocated);
    const uint8_t *src = image.pixels.samples.get();
    uint8_t *dst = upright.samples.get();

    // In tiles, so that a transpose writes within a few cache lines.
    constexpr std::ptrdiff_t tile = 32;
    for (std::ptrdiff_t ty = 0; ty < h; ty += tile) {
        for (std::ptrdiff_t tx = 0; tx < w; tx += tile) {
            const std::ptrdiff_t y_end = ty + tile < h ? ty + tile : h;
            const std::ptrdiff_t x_end = tx + tile < w ? tx + tile : w;
            for (std::ptrdiff_t sy = ty; sy < y_end; ++sy) {
                const uint8_t *from = src + static_cast<size_t>(sy * w + tx) * n;
                std::ptrdiff_t at = p.origin + tx * p.across + sy * p.down;
                for (std::ptrdiff_t sx = tx; sx < x_end; ++sx, at += p.across, from += n)
                    std::memcpy(dst + static_cast<size_t>(at) * n, from, n);
            }
        }
    }
    image.pixels = std::move(upright);
    if (turns_sideways(orientation)) std::swap(image.width, image.height);
    return {};
}
