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
    // No exception may unwind libjpeg's C frames: a jump is the one way out.
    // NOLINTNEXTLINE(cert-err52-cpp)
    if (setjmp(errors.jump) != 0)
        return errors.refusal ? errors.refusal(*errors.path)
                              : message::codec_error(*errors.path, errors.text);
    body();
    return {};
}

// The APP2 markers of an ICC profile as the file is read. They are kept in
// libjpeg's list of saved markers, as jpeg_save_markers keeps them, while
// they fit together and their profile bytes stay within largest_icc_profile;
// the others, and APP2 markers of anything else, are skipped unread, so a
// file of a gigabyte of them costs what moving past them costs. Each one is
// still checked as jpeg_read_icc_profile checks them (the count the first
// states in all, each numbered 1 to that count, no number twice), so a
// profile too large to keep is told from markers that do not fit together
// just as before.
struct icc_markers {
    size_t profile_bytes = 0;  // in every one of them
    int count = 0;             // as the first states it
    bool numbered[256] = {};   // the numbers found
    bool inconsistent = false;
};

// A decompressor reading one open file, whose path names it in messages.
// It keeps the ICC profile's markers (icc_markers). A search for the
// next marker gives up after largest_marker_hunt bytes that are none, as at
// the end of the file: a photograph with a long tail of junk (or a sparse
// hole) costs what its image data costs. A file of more than most_jpeg_scans
// scans is refused as the scan past the bound is read.
struct decompressor {
    codec_errors errors;
    jpeg_decompress_struct info{};
    jpeg_progress_mgr progress{};
    icc_markers icc;
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

// Under the guard, once the decode has started (a progressive file's later
// markers are read by then): the ICC profile's size, 0 when there is none
// or its markers do not fit together (with libjpeg's warning). The profile
// itself comes in *profile, malloc'd as jpeg_read_icc_profile gives it, only
// when it is at most largest_icc_profile bytes.
[[nodiscard]] size_t read_icc_profile(decompressor &source, JOCTET **profile);

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
