// Part of a page as Chromium paints it, as pixels to compare.
#pragma once

#include "support/devtools.h"
#include "support/jpeg_fixture.h"

// The clip (CSS pixels, rounded to whole ones) of the page, captured as a
// JPEG at quality 100 and decoded with libjpeg: RGB, clip size times the
// device pixel ratio.
decoded_jpeg screen_pixels(devtools_page &page, const css_rect &clip);

// The part of a capture that shows the given part of the page, the
// capture having been taken of `captured` at device pixel ratio 1.
decoded_jpeg crop(const decoded_jpeg &capture, const css_rect &captured, const css_rect &part);

// Mean absolute difference per sample of two decodings of one size;
// throws when their sizes or component counts differ.
double mean_difference(const decoded_jpeg &a, const decoded_jpeg &b);
