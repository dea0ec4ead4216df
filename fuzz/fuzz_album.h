// The album the image fuzz targets derive in: a private folder, made once
// and removed at exit, that holds one photograph named after the target's
// format. Each input is written there and derived as a run derives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/settings.h"

// Makes the album for the photograph `photo` (its derived files named
// `derived`); target names the fuzz target in the message of a failure.
void make_fuzz_album(const char *target, const std::string &photo, const std::string &derived);

// The photograph's path.
std::string fuzz_photo_path();

// The input, written as the photograph.
void write_fuzz_photo(const uint8_t *data, size_t size);

// The run's settings that an input's last byte chooses: the derived heights
// (bits 0-2 and 3-5), the bilinear resampler (bit 6), -2 and -b (bit 7);
// every derived image is made again.
settings_record fuzz_settings(uint8_t choice);

// The photograph derived as a run does: derive_image, its files put in place.
void derive_fuzz_photo(const settings_record &config);
