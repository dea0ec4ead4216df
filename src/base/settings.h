// The program's configuration: every option, filled once from the command
// line and only read after that, passed down as a parameter. Nothing
// computed during a run lives here.
#pragma once

#include <cstdint>
#include <string>

// What an image page shows of the EXIF fields: nothing (-E), a table, or a
// comment (-e).
enum class exif_mode {
    none,
    table,
    comment,
};

// The orders -s chooses among; the album maps each to its comparison.
enum class image_order {
    name,
    size,
    mtime,
    taken,
};

inline constexpr const char *vistrel_home_page = "https://vistrel.org/";

// -p K/N: a run that derives only part K (1 to N) of the gallery's images,
// for N runs side by side; count 0: the whole run.
struct part_choice {
    int32_t index = 0;
    int32_t count = 0;
};

// A field named like its type names the type as ::type.
struct settings_record {
    std::string default_title = "my webgallery";
    int32_t columns = 5;
    ::exif_mode exif_mode = ::exif_mode::table;
    int32_t rows = 3;
    int32_t scaled_height = 480;
    int32_t thumb_height = 96;
    bool remove_orphans = true;
    bool force = false;
    bool bilinear = false;
    bool show_caption = false;
    bool double_density = false;  // -2: also images at twice the size
    bool big_screens = false;     // -b: also images at three times the size
    bool arrow_keys = false;      // -a: keys and swipes move between pages
    bool page_numbers = false;  // -n: page numbers on the index pages, positions on the image pages
    bool heif_photos = false;   // -i: HEIF and AVIF files are photographs too
    bool videos = false;        // -V: videos are items too, shown by a poster frame
    bool album_covers = false;  // -C: a cover for every album on the gallery page
    bool quiet = false;         // -q: only what changed on standard output, then a summary
    bool keep_going = false;    // -k: a photo that cannot be read is left out, the run goes on
    bool album_tree = false;    // -R: albums at any depth below the gallery
    bool folder_titles = false;  // -N: an album without a title is titled by its folder's name
    ::image_order image_order = ::image_order::name;
    int32_t jobs = 0;  // threads for the image work of an album; 0: one per usable CPU
    part_choice part;  // -p: derived images of one part only, no pages
};
