// Which file names are photographs: the listing, the pipeline and orphan
// removal must agree on them.
#pragma once

#include <string_view>

// True when the name ends, after its last dot, in "jpg" or "jpeg" (any case).
bool is_jpeg_name(std::string_view name);

// True when the name ends in ".heic", ".heif" or ".avif" (any case).
bool is_heif_name(std::string_view name);

// True when the name ends in ".mp4", ".m4v", ".mov", ".webm" or ".mkv" (any
// case): a video, an item of the album with -V.
bool is_video_name(std::string_view name);
