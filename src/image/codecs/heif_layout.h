// What libheif will really decode for a HEIF or AVIF file's primary image,
// read from the file's own boxes before any pixel is: the canvas of a grid
// or overlay as its header declares it, and the size each coded image
// states in its own stream (the HEVC sequence parameter set, the AV1
// sequence header). The ispe box, which the pages state, may say anything
// else: libheif allocates what the grid header and the coded streams say.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/failure.h"

// Reads to.size() bytes at offset; false when they are not all there.
using heif_read_at = std::function<bool(uint64_t offset, std::span<uint8_t> to)>;

struct heif_layout {
    // The picture libheif assembles before it applies the container's
    // crop and turn: a grid's or overlay's canvas, else the coded image
    // (inside an HEVC stream's conformance window).
    uint32_t width = 0;
    uint32_t height = 0;
    // Whether that picture is a grid's or overlay's canvas.
    bool canvas = false;
    // What the primary item's ispe box states, before the crop and turn
    // too, which that picture must be exactly; 0 x 0 without an ispe box.
    uint32_t stated_width = 0;
    uint32_t stated_height = 0;
    // The most pixels libheif holds at once: the picture, the largest
    // coded image behind a canvas, and an alpha image beside it.
    uint64_t pixels = 0;
    // Bytes a sample takes while decoding: 2 when any coded image has more
    // than 8 bits (libheif decodes those into 16-bit planes).
    unsigned bytes_per_sample = 1;
    // The longest side of any image decoded on the way: canvas, tiles,
    // coded images before their crop, alpha.
    uint64_t longest_side = 0;
};

// The layout of the primary image of the file of file_size bytes that read
// reads, or why it cannot be told (path names the file). Only the boxes it
// needs are read, each at most a few megabytes.
result<heif_layout> read_heif_layout(uint64_t file_size, const heif_read_at &read,
                                     const std::string &path);

// The bytes of the file's boxes outside its coded data (all but mdat and
// idat boxes, and colr boxes longer than `longest`, which libheif is kept
// from reading), for a bound before libheif reads them; none when the boxes
// cannot be listed (libheif then says why).
std::optional<uint64_t> heif_box_bytes(uint64_t file_size, const heif_read_at &read,
                                       uint64_t longest);

// Where the type of every colr box of the file whose payload is longer
// than `longest` bytes lies: a profile of hundreds of megabytes in a file
// made sparse, which libheif would read byte by byte when it opens the
// file, before anyone could ask its size. Empty when there is none, or when
// the boxes cannot be read (libheif then says why).
std::vector<uint64_t> long_colour_boxes(uint64_t file_size, const heif_read_at &read,
                                        uint64_t longest);
