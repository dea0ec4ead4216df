// The program's configuration: every option, filled once from the command
// line and only read after that. Nothing computed during a run lives here.
#pragma once

#include <cstdint>
#include <string>

enum exif_mode_t : int32_t {
    EXIF_NONE = 0,
    EXIF_TABLE = 1,
    EXIF_COMMENT = 2,
};

// The orders -s chooses among; the album maps each to its comparison.
enum class image_order_t {
    name,
    size,
    mtime,
    taken,
};

inline constexpr const char *vistrel_version = VISTREL_VERSION;
inline constexpr const char *vistrel_home_page = "https://vistrel.org/";

struct settings_record {
    std::string default_title = "my webgallery";
    std::string progname = "vistrel";
    int32_t columns = 5;
    exif_mode_t exif_mode = EXIF_TABLE;
    int32_t rows = 3;
    int32_t scaled_height = 480;
    int32_t thumb_height = 96;
    bool remove_orphans = true;
    bool force = false;
    bool bilinear = false;
    bool show_caption = false;
    bool double_density = false;  // -2: also images at twice the size
    bool page_numbers = false;    // -n: page numbers on the index pages, positions on the image pages
    bool heif_photos = false;     // -i: HEIF and AVIF files are photographs too
    bool album_covers = false;    // -C: a cover for every album on the gallery page
    image_order_t image_order = image_order_t::name;
    int32_t jobs = 0;  // threads for the image work of an album; 0: one per usable CPU
};

extern settings_record settings;
