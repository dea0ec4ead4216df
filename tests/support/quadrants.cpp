#include "support/quadrants.h"

#include <cstddef>

std::vector<uint8_t> quadrants(int width, int height)
{
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 3);
    uint8_t *p = pixels.data();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                *p++ = static_cast<uint8_t>(quadrant_colour(x, y, width, height)[c]);
    return pixels;
}

std::array<int, 2> stored_position(int orientation, int ux, int uy, int stored_width,
                                   int stored_height)
{
    const int w = stored_width - 1, h = stored_height - 1;
    switch (orientation) {
    case 2: return {w - ux, uy};
    case 3: return {w - ux, h - uy};
    case 4: return {ux, h - uy};
    case 5: return {uy, ux};
    case 6: return {uy, h - ux};
    case 7: return {w - uy, h - ux};
    case 8: return {w - uy, ux};
    default: return {ux, uy};
    }
}
