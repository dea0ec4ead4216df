// Real JPEG files for tests, made at run time with libjpeg and libexif.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The EXIF tags a JPEG file is made with. Model goes into IFD 0, the others
// into the EXIF IFD, where cameras put them.
struct exif_recipe {
    std::optional<std::string> model;                       // 0x0110, ASCII
    std::optional<std::string> taken;                       // 0x9003, "YYYY:MM:DD HH:MM:SS"
    std::optional<std::pair<uint32_t, uint32_t>> exposure;  // 0x829A, RATIONAL seconds
    std::optional<std::pair<uint32_t, uint32_t>> aperture;  // 0x9202, RATIONAL APEX
    std::optional<uint16_t> flash;                          // 0x9209, SHORT
    std::optional<uint16_t> orientation;                    // 0x0112, SHORT, in IFD 0
    // Model also in IFD 1, the embedded thumbnail's IFD (a small JPEG
    // thumbnail comes with it), for files that carry a tag in two IFDs.
    std::optional<std::string> thumbnail_model;
};

// An ICC profile in APP2 markers ("ICC_PROFILE\0", sequence number, count,
// then the bytes), split as asked, or damaged.
struct icc_recipe {
    std::vector<uint8_t> profile;
    size_t chunk_size = 65519;  // profile bytes per marker: 1 to 65519
    enum class fault {
        none,
        chunk_missing,  // the second marker is left out (needs two or more)
        counts_differ,  // the last marker states one marker more than the others
    } damage = fault::none;
};

// What a JPEG file is made of: its size, colour model, quality, scan
// layout, picture, EXIF tags and colour profile.
struct jpeg_recipe {
    int width = 64;
    int height = 48;
    int components = 3;  // 1 grayscale, 3 colour (YCbCr in the file), 4 CMYK
    int quality = 90;
    bool progressive = false;
    // Above 0: progressive in exactly this many scans, whatever progressive
    // says. One DC scan of every component, then each AC coefficient of each
    // component in scans of its own, successive approximation making up the
    // count: from 1 + 63 x components to 1 + 693 x components scans.
    int scans = 0;
    uint32_t seed = 1;  // the picture: smooth gradients plus seeded noise
    std::optional<exif_recipe> exif;
    std::optional<icc_recipe> icc;  // after the EXIF block
    // The picture to encode instead of the generated one: width x height x
    // components samples, interleaved.
    std::vector<uint8_t> pixels;
};

// The EXIF block as libexif saves it: "Exif\0\0", then the TIFF header and
// the IFDs.
std::vector<uint8_t> exif_block(const exif_recipe &exif);

// The fixture's pixels, interleaved, rows top to bottom, before encoding.
std::vector<uint8_t> recipe_pixels(const jpeg_recipe &spec);

// The JPEG file's bytes.
std::vector<uint8_t> make_jpeg(const jpeg_recipe &recipe);

// Writes the JPEG file to path.
void write_jpeg(const std::string &path, const jpeg_recipe &recipe);

// A decoded JPEG: what libjpeg gives with all its defaults but the scale.
struct decoded_jpeg {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<uint8_t> pixels;
    long warnings = 0;                 // libjpeg's warnings: corrupt or missing data
    std::vector<uint8_t> icc_profile;  // as jpeg_read_icc_profile gives it; empty without one
};

// Decodes a JPEG file at 1/scale_denom (1, 2, 4 or 8); libjpeg's fatal
// errors are thrown as std::runtime_error.
decoded_jpeg decode_jpeg(const std::string &path, int scale_denom = 1);
