// What both resamplers share: the vector types and the AVX2 switch of their
// inner loops, and what they do before any arithmetic: read and check the
// geometry, and handle the cases that need none (equal widths, an empty
// destination). Internal to the image subsystem.
#pragma once

#include <cstddef>

#include "image/resample.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VISTREL_AVX2 1
#define AVX2_CODE __attribute__((target("avx2")))
#endif

// Two doubles: native on every x86-64 (SSE2) and on AArch64.
using vec2 = double __attribute__((vector_size(16)));

struct resample_geometry {
    size_t n;       // samples per pixel
    size_t ws, hs;  // source width and height
    size_t wd, hd;  // destination width and height
    size_t ls, ld;  // bytes per source and per destination row
};

enum class resample_start {
    failed,    // return -1, errno as set (or untouched for a null destination)
    finished,  // return 0: the destination is complete, or there is none
    go,        // the caller resamples
};

// Fills g; when the widths are equal, copies the rows (the last source row
// repeated past the source's end) and reports finished.
resample_start start_resample(const jpeg_decompress_struct &src_info,
                              const jpeg_compress_struct &dst_info, const JSAMPLE *src,
                              JSAMPLE **dst_ptr, resample_geometry &g);
