// libjpeg's codec objects as owners, for the JPEG reader and writer alone:
// no other file sees a libjpeg type. libjpeg gives up on bad data by calling
// its error handler, which must not return: here it jumps back to the guard
// of the one function that called into libjpeg, and the failure comes back
// as a value naming the file, with everything released.
#pragma once

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>

#include <string>

#include "base/byte_source.h"
#include "base/failure.h"
#include "base/limits.h"
#include "image/messages.h"
#include "image/picture.h"

// libjpeg's standard error manager but for where its messages go: warnings
// are reported as "<program>: <path>: <libjpeg's text>" (in job order, on a
// job thread) and the work goes on; an error it cannot go past jumps back to
// the guard. So does a bound of ours that the file passes mid-way, with the
// message that says so in refusal instead of libjpeg's text.
struct codec_errors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    const std::string *path;
    char text[JMSG_LENGTH_MAX];
    path_message refusal = nullptr;
};

// The one way into libjpeg: when libjpeg gives up, its error handler jumps
// here, and the failure returns as a value. The body must own nothing that
// needs destroying, since a jump skips it; what it fills lives with the
// caller.
template <class Body>
outcome guarded(codec_errors &errors, Body &&body)
{
    if (setjmp(errors.jump) != 0)
        return errors.refusal ? errors.refusal(*errors.path)
                              : message::codec_error(*errors.path, errors.text);
    body();
    return {};
}

// A decompressor reading one open file, whose path names it in messages.
// It keeps the APP2 markers, where an ICC profile travels. A search for the
// next marker gives up after largest_marker_hunt bytes that are none, as at
// the end of the file: a photograph with a long tail of junk (or a sparse
// hole) costs what its image data costs. A file of more than most_jpeg_scans
// scans is refused as the scan past the bound is read.
struct decompressor {
    codec_errors errors;
    jpeg_decompress_struct info{};
    jpeg_progress_mgr progress{};
    std::string path;
    bool created = false;

    explicit decompressor(std::string source_path);
    ~decompressor();
    decompressor(const decompressor &) = delete;
    decompressor &operator=(const decompressor &) = delete;
};

// Creates the object under the guard (creation can fail too), attaches the
// file's bytes, which stay their caller's, and reads the header.
[[nodiscard]] outcome open_decompressor(decompressor &source, byte_source &bytes);

// A compressor for one derived file, created under the guard.
struct compressor {
    codec_errors errors;
    jpeg_compress_struct info{};
    bool created = false;

    explicit compressor(const std::string &path);
    ~compressor();
    compressor(const compressor &) = delete;
    compressor &operator=(const compressor &) = delete;
};

[[nodiscard]] outcome create_compressor(compressor &out);

// The colour models as libjpeg names them.
J_COLOR_SPACE jpeg_colour_space(colour_model colours);
colour_model picture_colours(J_COLOR_SPACE space);
