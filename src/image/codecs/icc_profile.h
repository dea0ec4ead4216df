// The colour profile a photograph carries, looked at before it is copied
// into every derived image: a file of a few hundred bytes may claim a
// profile of gigabytes, or carry random bytes in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/limits.h"

static_assert(largest_icc_profile <= 255 * 65519, "a profile a JPEG file can number");

// Why a profile of that many bytes is not carried, or empty: for a size
// known before the profile is read.
std::string icc_size_fault(size_t size);

// Why the profile is not fit to travel with a picture of that many
// components (1 grey, 3 RGB, 4 CMYK), or empty when it is: at most
// largest_icc_profile bytes, its header's size field saying just as many,
// its tag table within them and without multi-process element tags (which
// cost lcms2 time out of all proportion to their bytes), a profile lcms2
// reads, of a class a picture can be tagged with (input, display, output or
// colour space), in the picture's colour space, and one lcms2 can build a
// transform from. A check costs milliseconds, whatever the profile.
std::string icc_profile_fault(std::span<const uint8_t> profile, int components);

// The profile when it is fit, else nothing, with a warning that names the
// photograph at source_path and says why.
std::vector<uint8_t> checked_icc_profile(std::vector<uint8_t> profile, int components,
                                         const std::string &source_path);
