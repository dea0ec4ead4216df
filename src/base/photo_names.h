// Which file names are photographs: the listing, the pipeline and orphan
// removal must agree on them.
#pragma once

#include <string_view>

// True when the name ends, after its last dot, in "jpg" or "jpeg" (any case).
bool is_jpeg_name(std::string_view name);

// True when the name ends in ".heic", ".heif" or ".avif" (any case).
bool is_heif_name(std::string_view name);
