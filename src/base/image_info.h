// The record that carries one image from the album listing, through its
// derivation, to the pages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct image_info {
    std::string name;  // file name in the album directory
    std::string page;  // its page's file name: "<name>.html", shortened if too long
    // Its derived files' name in every cache directory: the name itself for
    // a JPEG file, "<name>.jpg" (shortened if too long) for a HEIF or AVIF one.
    std::string derived;
    std::string caption;  // from .description, else the name
    // A caption from .description is the gallery owner's markup and goes
    // into pages unchanged; the name standing in for one is escaped.
    bool caption_from_description = false;
    int64_t file_size = 0;
    int64_t mtime = 0;
    int32_t width = 0;  // upright, as the EXIF orientation turns the stored picture
    int32_t height = 0;
    int32_t scaled_width = 0;
    int32_t scaled_height = 0;
    int32_t thumb_width = 0;
    int32_t thumb_height = 0;
    int32_t scaled2x_width = 0;  // with -2
    int32_t scaled2x_height = 0;
    int32_t thumb2x_width = 0;
    int32_t thumb2x_height = 0;
    int32_t big_width = 0;  // with -b
    int32_t big_height = 0;
    // When the photograph was taken, as YYYYMMDDhhmmss, from a well-formed
    // EXIF DateTimeOriginal; none without one.
    std::optional<int64_t> taken_time;
    std::optional<std::string> exif_model;
    std::optional<std::string> exif_taken;
    std::optional<std::string> exif_exposure;
    std::optional<std::string> exif_flash;
    std::optional<std::string> exif_aperture;
};
