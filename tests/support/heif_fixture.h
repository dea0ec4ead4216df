// Real HEIF and AVIF files for tests, made at run time with libheif's
// encoders: x265 for HEIC, aom for AVIF.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/jpeg_fixture.h"

// An nclx colour description: ITU-T H.273 code points.
struct nclx_recipe {
    uint16_t primaries = 1;  // 1 BT.709, 9 BT.2020, 12 Display P3, ...
    uint16_t transfer = 13;  // 13 sRGB, 1 BT.709, 16 PQ, ...
    uint16_t matrix = 6;     // BT.601, as libheif uses by default
    bool full_range = true;
};

struct heif_recipe {
    enum class codec { hevc, av1 } format = codec::hevc;
    int width = 64;
    int height = 48;
    // 8 or 10. A 10-bit AVIF is coded 4:2:2: libheif 1.15's aom encoder
    // asks for profile 2 at 10 bits, which libaom aborts on in 4:2:0 and
    // 4:4:4.
    int bit_depth = 8;
    int quality = 90;
    uint32_t seed = 1;  // the picture, as recipe_pixels draws it
    // The stored picture instead: width x height RGB samples, interleaved.
    std::vector<uint8_t> pixels;
    // irot and imir boxes for the EXIF Orientation value (1 to 8) whose
    // turn shows the stored picture upright.
    int orientation = 1;
    // x265 codes at least 64 x 64 pixels: libheif crops a smaller picture
    // with a grid of one tile, or with this, a clean aperture (clap) box.
    bool clean_aperture = false;
    // An Exif item: a 4-byte big-endian offset to the TIFF header, then
    // "Exif\0\0" (offset 6) or, without exif_header, the TIFF header at once
    // (offset 0).
    std::optional<exif_recipe> exif;
    bool exif_header = true;
    std::vector<uint8_t> exif_item;    // the whole item instead, as it is
    std::vector<uint8_t> icc_profile;  // a 'prof' colr box
    std::optional<nclx_recipe> nclx;   // an nclx colr box (with a profile too: both)
};

// The file's bytes; libheif's errors are thrown as std::runtime_error.
std::vector<uint8_t> make_heif(const heif_recipe &spec);

// Writes the file to path.
void write_heif(const std::string &path, const heif_recipe &spec);

// The picture a spec stores, before any turn: width x height RGB samples.
std::vector<uint8_t> heif_recipe_pixels(const heif_recipe &spec);

// Crafted files: a made file's boxes patched in place, as a hostile writer
// would. The output size a grid's header declares (in the idat box, where
// libheif writes it, in 16-bit fields: a file made with a grid of one tile,
// see clean_aperture).
void set_grid_size(std::vector<uint8_t> &bytes, int width, int height);

// An AVIF grid of one 64 x 64 tile showing 48 x 48 of it, flat grey:
// libheif 1.15 writes no AV1 grid, so a HEIC grid has its HEVC tile swapped
// for an AV1 one (the av01 item type, an av1C box carrying the sequence
// header, the coded data).
std::vector<uint8_t> make_av1_grid();

// The size the ispe box number `which` (0 the first) states.
void set_ispe(std::vector<uint8_t> &bytes, int which, uint32_t width, uint32_t height);
