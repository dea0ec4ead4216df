// The one program-wide record: every option, and the few values the whole
// run shares. Filled by the command line, read everywhere below it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct image_info;

enum exif_mode_t : int32_t {
    EXIF_NONE = 0,
    EXIF_TABLE = 1,
    EXIF_COMMENT = 2,
};

// An image order: negative, zero or positive, like strcmp.
using image_order_fn = int (*)(const image_info &a, const image_info &b);

inline constexpr const char *vistrel_version = "0.4";
inline constexpr const char *vistrel_home_page = "https://vistrel.org/";

struct settings_record {
    std::optional<std::string> album_title;  // per album, from its .description
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
    image_order_fn image_order = nullptr;  // compare_name once main has run
    std::string page_footer;
    int32_t jobs = 1;  // threads for the image work of an album
};

extern settings_record settings;

// Fills settings from the command line and returns the gallery operand.
// Ends the run after -v, an invalid argument or a wrong operand count.
std::string parse_command_line(int argc, char **argv);

// Writes the usage text, showing the current settings, and ends with status 1.
[[noreturn]] void usage();

// Derives and pages every album of the gallery, writes the gallery index
// page, and ends the run.
[[noreturn]] void run_gallery(std::string gallery_path);
