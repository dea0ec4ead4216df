// ICC profiles made at run time with lcms2, and what a profile makes of a
// colour.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// An RGB colour space: CIE 1931 xy of its primaries and white.
struct rgb_primaries {
    double red[2], green[2], blue[2], white[2];
};

inline constexpr rgb_primaries display_p3_primaries{
    {0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}, {0.3127, 0.3290}};
inline constexpr rgb_primaries bt2020_primaries{
    {0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}, {0.3127, 0.3290}};

// The profile lcms2 builds from those primaries and the sRGB transfer curve.
// With at_least above the profile's own size, a long copyright text pads it
// to at least that many bytes, so that it needs several APP2 markers.
std::vector<uint8_t> srgb_curve_profile(const rgb_primaries &space, size_t at_least = 0);

// Display P3: the P3 primaries, the D65 white and the sRGB curve.
inline std::vector<uint8_t> display_p3_profile(size_t at_least = 0)
{
    return srgb_curve_profile(display_p3_primaries, at_least);
}

// Profiles real and well formed but not fit for an RGB photograph: a grey
// display profile (gamma 2.2), and an abstract Lab profile.
std::vector<uint8_t> grey_profile();
std::vector<uint8_t> abstract_lab_profile();

// The profile with one more tag: its data appended, the table one entry
// longer (the other tags' offsets moved on past it), the header's size and
// count set. The signature and type are four characters, as "D2B1".
std::vector<uint8_t> with_tag(std::vector<uint8_t> profile, const char (&signature)[5],
                              const std::vector<uint8_t> &data);

// A multiProcessElementType tag of 3 channels in and out, of `elements`
// elements whose positions all name one identity matrix.
std::vector<uint8_t> multi_process_elements(uint32_t elements);

// A lutAToBType tag of 3 channels in and `outputs` out whose table claims
// `grid_points` a side, with none of its data there.
std::vector<uint8_t> lut_claiming_table(uint8_t grid_points, uint8_t outputs);

// The CIE XYZ (D50, as the profile connection space has it) that the
// profile gives an 8-bit RGB colour, relative colorimetric.
std::array<double, 3> profile_xyz(const std::vector<uint8_t> &profile, std::array<uint8_t, 3> rgb);
