// An ICC profile for a colour description given as ITU-T H.273 code points
// (the nclx of HEIF and AVIF files), so that derived JPEG files, which can
// only carry ICC profiles, keep the photograph's colours.
#pragma once

#include <cstdint>
#include <vector>

// The profile of an RGB space with those primaries and that transfer
// characteristic, made with lcms2: a matrix and three parametric curves,
// ICC version 4, the same bytes on every run. Empty when no profile is
// needed (BT.709 primaries, which are sRGB's, or unspecified ones: browsers
// take an untagged image as sRGB) or when none can say it exactly: unknown
// primaries, or a transfer other than the sRGB curve (13), the BT.709
// camera curve (1, 6, 14, 15, inverted), linear light (8) and the pure
// gammas 2.2 (4) and 2.8 (5). Nothing is tone mapped: PQ and HLG get none.
std::vector<uint8_t> nclx_profile(int primaries, int transfer);
