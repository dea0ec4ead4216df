// Turning a decoded picture upright, as its EXIF orientation says.
#pragma once

#include "base/failure.h"
#include "image/picture.h"

// Orientations 5 to 8 store the picture on its side: its upright width is
// the stored height.
inline bool turns_sideways(int orientation) { return orientation >= 5 && orientation <= 8; }

// Whether turn_upright has anything to do (and a second picture to hold).
inline bool needs_turning(int orientation) { return orientation >= 2 && orientation <= 8; }

// Turns the picture upright by the lossless flips and transposes that
// orientation 2 to 8 stands for; 1 and anything else leave it as it is.
[[nodiscard]] outcome turn_upright(picture &image, int orientation);
