// Album processing: the record that carries one image from the listing to
// the pages, the three image orders, and the album driver with its helpers.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct image_info {
    std::string name;     // file name in the album directory
    std::string caption;  // from .description, else the name
    // A caption from .description is the gallery owner's markup and goes
    // into pages unchanged; the name standing in for one is escaped.
    bool caption_from_description = false;
    int64_t file_size = 0;
    int64_t mtime = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t scaled_width = 0;
    int32_t scaled_height = 0;
    int32_t thumb_width = 0;
    int32_t thumb_height = 0;
    std::optional<std::string> exif_model;
    std::optional<std::string> exif_taken;
    std::optional<std::string> exif_exposure;
    std::optional<std::string> exif_flash;
    std::optional<std::string> exif_aperture;
};

// The image orders that -s chooses among; ascending.
int compare_name(const image_info &a, const image_info &b);
int compare_size(const image_info &a, const image_info &b);
int compare_mtime(const image_info &a, const image_info &b);

// True when the name ends, after its last dot, in "jpg" or "jpeg" (any case).
bool is_jpeg_name(const char *name);

// Derives, pages and cleans one album; returns its number of images.
int32_t process_album(const std::string &album_path);

// One caption line of an album's .description file.
struct description_entry {
    std::string file;
    std::string caption;
};

// Reads "<album>/.description": sets settings.album_title from its "." lines
// and returns its caption lines in file order. A missing file is no error.
std::vector<description_entry> read_description(const std::string &album_path);

// The caption of the first entry for exactly this name, else the name.
const std::string &lookup_caption(const std::vector<description_entry> &entries,
                                  const std::string &name);

// Makes sure "<album>/.scaled" and "<album>/.thumbs" are directories.
void ensure_cache_dirs(const std::string &album_path);

// Whether a derived file exists and is not older, in whole seconds, than
// the source whose status is given.
bool is_fresh(const std::string &derived_path, const struct stat &source);

// Deletes from "<album>/<subdir>" every JPEG-named file that no image is
// called, with its image page. Reports, never ends the run.
void remove_orphans(const std::string &album_path, const char *subdir,
                    std::span<const image_info> images);
