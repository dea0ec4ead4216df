// libjpeg's codec objects as owners, and the two moves the pipeline makes
// with them: decode at a reduction, encode through a temporary file. libjpeg
// gives up on bad data by calling its error handler, which must not return:
// here it jumps back to the one function that called into libjpeg, and the
// failure comes back as a value naming the file, with everything released.
#pragma once

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/files.h"
#include "image/resample.h"

// libjpeg's standard error manager but for where its messages go: warnings
// are reported as "<program>: <path>: <libjpeg's text>" (in job order, on a
// job thread) and the work goes on; an error it cannot go past jumps back to
// the guard.
struct codec_errors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    const std::string *path;
    char text[JMSG_LENGTH_MAX];
};

// A decompressor reading one open source file, whose path names it in
// messages. The file stays its caller's. It keeps the APP2 markers, where
// an ICC profile travels.
struct decompressor {
    codec_errors errors;
    jpeg_decompress_struct info;
    std::string path;

    decompressor(std::FILE *source, std::string source_path);
    ~decompressor();
    decompressor(const decompressor &) = delete;
    decompressor &operator=(const decompressor &) = delete;
};

// Reads the header: size, colour model, markers.
[[nodiscard]] outcome read_header(decompressor &source);

// Samples, rows top to bottom, interleaved, no gap between rows.
struct pixel_buffer {
    std::unique_ptr<JSAMPLE[]> samples;
    size_t size = 0;  // bytes
};

// A buffer of size bytes, or "can't malloc".
result<pixel_buffer> allocate_pixels(size_t size);

// A decoded picture and what an encoder needs to know of it.
struct decoded_image {
    pixel_buffer pixels;
    JDIMENSION width = 0;
    JDIMENSION height = 0;
    int components = 0;
    J_COLOR_SPACE color_space = JCS_UNKNOWN;
    // The source's ICC profile, carried unchanged into every derived image;
    // empty for an untagged source.
    std::vector<JOCTET> icc_profile;
};

// The DCT-domain reduction for a target width: 1/2, 1/4 or 1/8 once the
// picture's width is at least 2, 4 or 8 times the target, else full size.
unsigned reduction_for(JDIMENSION image_width, int32_t target_width);

// What a decode at 1/denom holds at its largest: the picture, and for a
// file that makes libjpeg hold its whole image at once (progressive, or in
// several scans) every coefficient of it until the last scan.
struct decode_footprint {
    size_t picture = 0;
    size_t whole_image = 0;
};
result<decode_footprint> measure_decode(decompressor &source, unsigned denom);

// Decodes the whole image at 1/denom. Only the scale is changed from
// libjpeg's defaults: the derived bytes depend on them. The memory it takes
// is its caller's to claim (measure_decode). A job told to stop stops
// between rows, with an empty failure. The ICC profile comes along; a
// malformed one is left out, with libjpeg's warning.
result<decoded_image> decode_image(decompressor &source, unsigned denom);

// Resamples the picture to width x height and writes it as a JPEG with
// jpeg_set_defaults alone (and the picture's ICC profile, if any) to `name`
// in the directory, through a temporary file renamed into place. dst is
// reused when it holds at least the bytes needed, else replaced. On failure
// nothing is put in place.
[[nodiscard]] outcome encode_image(const decoded_image &picture, resampler_fn resample,
                                   const std::string &image_name, const open_dir &dir,
                                   const std::string &name, int32_t width, int32_t height,
                                   pixel_buffer &dst);
