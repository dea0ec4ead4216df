// A picture brought down by a whole factor in the pixel domain: what a
// reader's reduction would have given, without a second decode.
#pragma once

#include "base/failure.h"
#include "image/picture.h"

// Makes the picture `factor` (at least 1, at most 8) times smaller each way,
// in place: every new pixel is the rounded mean of the factor × factor
// pixels it covers, or of those there are at the right and bottom edges, so
// the size is the old one divided by the factor and rounded up, as a
// decoder's reduction rounds it. Fails only when the working row cannot be
// allocated.
[[nodiscard]] outcome reduce_picture(picture &image, unsigned factor);
