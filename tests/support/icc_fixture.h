// ICC profiles made at run time with lcms2, and what a profile makes of a
// colour.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Display P3 as lcms2 builds an RGB profile from primaries: the P3
// primaries (red 0.680 0.320, green 0.265 0.690, blue 0.150 0.060), the D65
// white (0.3127 0.3290) and the sRGB transfer curve. With at_least above the
// profile's own size, a long copyright text pads it to at least that many
// bytes, so that it needs several APP2 markers.
std::vector<uint8_t> display_p3_profile(size_t at_least = 0);

// The CIE XYZ (D50, as the profile connection space has it) that the
// profile gives an 8-bit RGB colour, relative colorimetric.
std::array<double, 3> profile_xyz(const std::vector<uint8_t> &profile, std::array<uint8_t, 3> rgb);
