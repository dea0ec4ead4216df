#include "image/resample.h"
// placeholder until this part lands
std::optional<std::string> exif_string(ExifData *, ExifTag) { return std::nullopt; }
