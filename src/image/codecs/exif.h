// EXIF fields as the texts the image pages show.
#pragma once

#include <libexif/exif-data.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/byte_source.h"

struct exif_data_freer {
    void operator()(ExifData *data) const { exif_data_free(data); }
};
using unique_exif = std::unique_ptr<ExifData, exif_data_freer>;

// The EXIF data of the open file, read by position; none when it has none.
unique_exif read_exif_data(const byte_source &bytes);

// The value of one EXIF tag as libexif renders it, from the first of the five
// IFDs that yields a text; none when no IFD does.
std::optional<std::string> exif_string(ExifData *data, ExifTag tag);

// The Orientation tag of IFD 0: 1 to 8 as the EXIF standard numbers the
// ways a stored picture may be turned; 1 (upright) when the tag is missing
// or holds anything else.
int exif_orientation(ExifData *data);

// An EXIF date and time, "YYYY:MM:DD HH:MM:SS", as the number
// YYYYMMDDhhmmss, which sorts like the time; none unless well formed.
std::optional<int64_t> exif_date_time(const std::string &text);
