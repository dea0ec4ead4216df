// The one interface every photograph is read through, whatever its format:
// open from a descriptor held open, the header (size, EXIF, what a decode
// will hold), then the picture decoded at a reduction. The road of an image
// (pipeline.cpp) knows nothing else of a format; a new source format is one
// more reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/failure.h"
#include "image/exif.h"
#include "image/picture.h"

// What a decode at a reduction holds at its largest: the picture it makes,
// and what the decoder holds beside it (for a JPEG file libjpeg keeps whole,
// every coefficient until the last scan; for a HEIF file libheif's own copy).
struct decode_footprint {
    size_t picture = 0;
    size_t working = 0;
    int components = 0;  // of the picture
};

// Whether a job was told to stop: a decode asks between rows, and stops with
// failure::stopped().
using stop_check = bool (*)();

class photo_reader {
public:
    virtual ~photo_reader() = default;

    // The picture's size as stored, before the orientation is applied.
    virtual int32_t stored_width() const = 0;
    virtual int32_t stored_height() const = 0;

    // The EXIF data; none when the photograph has none.
    virtual unique_exif exif() = 0;

    // The EXIF orientation (1 to 8) that a decoded picture still needs
    // applied: a HEIF file's decoder applies its container's own turn.
    virtual int orientation_to_apply(int exif_orientation) const = 0;

    // The reduction (1, 2, 4 or 8) that a picture upright_width wide is
    // decoded at when the widest image made from it is target_width wide.
    virtual unsigned reduction_for(int32_t upright_width, int32_t target_width) const = 0;

    virtual result<decode_footprint> measure(unsigned reduction) = 0;

    // The picture at 1/reduction of its stored size, with its ICC profile.
    // The memory it takes is its caller's to claim (measure).
    virtual result<picture> decode(unsigned reduction, stop_check stop) = 0;
};

using unique_reader = std::unique_ptr<photo_reader>;

// A JPEG photograph, its header read from the descriptor (which stays the
// caller's, and open as long as the reader lives); path names it in messages.
result<unique_reader> open_jpeg_reader(int fd, const std::string &path);

// A HEIF or AVIF photograph, as above. decoding_threads is how many threads
// libheif may decode a tiled picture with (0: only the calling one).
result<unique_reader> open_heif_reader(int fd, const std::string &path, int decoding_threads);
