// EXIF fields as the texts the image pages show.
#pragma once

#include <libexif/exif-data.h>

#include <optional>
#include <string>

// The value of one EXIF tag as libexif renders it, from the first of the five
// IFDs that yields a text; none when no IFD does.
std::optional<std::string> exif_string(ExifData *data, ExifTag tag);
