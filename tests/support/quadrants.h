// Pictures of four flat quadrants of clearly different colours, and the
// EXIF table of orientations: every turn and mirror of such a picture puts
// some colour where it does not belong. Shared by the HEIF tests.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

using rgb = std::array<int, 3>;

inline constexpr rgb quadrant_colours[4] = {
    {200, 40, 40}, {40, 170, 60}, {40, 60, 200}, {220, 200, 40}};

// The colour of pixel (x, y) of a width x height quadrant picture.
inline rgb quadrant_colour(int x, int y, int width, int height)
{
    return quadrant_colours[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
}

// The quadrant picture's pixels, RGB, rows top to bottom.
std::vector<uint8_t> quadrants(int width, int height);

// Where pixel (ux, uy) of the upright picture lies in the stored one, by
// the EXIF table of orientations.
std::array<int, 2> stored_position(int orientation, int ux, int uy, int stored_width,
                                   int stored_height);
