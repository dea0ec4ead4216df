// Which images a part run derives (-p K/N).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/settings.h"

// The gallery's images are dealt to the parts in turn, album after album in
// the gallery's order and each album's images in name order, the first to
// part 1: every image falls in exactly one part, the parts' counts differ by
// at most one, and every machine that lists the same gallery deals alike.
// Returns the positions, among an album's `images` in name order, of those
// that fall in `part`, when the album's first image is the gallery's image
// number `first` (from 0).
std::vector<size_t> images_in_part(size_t images, int64_t first, part_choice part);
