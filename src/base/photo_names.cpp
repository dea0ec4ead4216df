#include "base/photo_names.h"

#include <string>

namespace {

// The extension after the name's last dot, in lower case; empty without one.
std::string lower_extension(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string extension;
    for (const char c : name.substr(dot + 1))
        extension += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension;
}

}  // namespace

bool is_jpeg_name(std::string_view name)
{
    const std::string extension = lower_extension(name);
    return extension == "jpg" || extension == "jpeg";
}

bool is_heif_name(std::string_view name)
{
    const std::string extension = lower_extension(name);
    return extension == "heic" || extension == "heif" || extension == "avif";
}

bool is_video_name(std::string_view name)
{
    const std::string extension = lower_extension(name);
    return extension == "mp4" || extension == "m4v" || extension == "mov" || extension == "webm" ||
           extension == "mkv";
}
