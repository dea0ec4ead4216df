// The record that carries one image from the album listing, through its
// derivation, to the pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The images derived from every photograph, each in a cache directory of
// its own; the table of what each is (derived_images) is in derived_images.h.
enum class derived_kind {
    big,       // -b: three times the scaled image's size
    scaled2x,  // -2: twice the scaled image's size
    scaled,    // the scaled image, -H high
    thumbs2x,  // -2: twice the thumbnail's size
    thumbs,    // the thumbnail, -h high
};
inline constexpr size_t derived_kinds = 5;

struct derived_size {
    int32_t width = 0;
    int32_t height = 0;
};

// What a video's page and thumbnail show of it (-V), read from its
// container; the poster frame is its picture.
struct video_record {
    int64_t duration_ms = 0;  // 0: unknown
    // Frames a second as a fraction; 0/0 when the container does not say.
    int32_t rate_num = 0;
    int32_t rate_den = 0;
    std::string codec;  // as viewers know it: "H.264", "HEVC", "VP9", "AV1"
    // The type attribute of the page's <source>: the container's MIME type
    // and, where the stream tells them exactly, its codecs; empty for none.
    std::string type;
};

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
    // The size of each derived image, in the order of derived_kind; those
    // this run does not make stay 0 x 0.
    derived_size sizes[derived_kinds];
    derived_size &size(derived_kind kind) { return sizes[static_cast<size_t>(kind)]; }
    const derived_size &size(derived_kind kind) const { return sizes[static_cast<size_t>(kind)]; }
    // When the photograph was taken, as YYYYMMDDhhmmss, from a well-formed
    // EXIF DateTimeOriginal; none without one.
    std::optional<int64_t> taken_time;
    std::optional<std::string> exif_model;
    std::optional<std::string> exif_taken;
    std::optional<std::string> exif_exposure;
    std::optional<std::string> exif_flash;
    std::optional<std::string> exif_aperture;
    // Set for a video (-V): its page plays it instead of showing a photograph.
    std::optional<video_record> video;
};
