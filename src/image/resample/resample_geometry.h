// What both resamplers do before any arithmetic: read and check the
// geometry of the two pixel views, handle the cases that need none (equal
// widths, an empty destination), and choose the lanes for the rest. Internal
// to the image subsystem.
#pragma once

#include <cstddef>

#include "image/resample/resample.h"
#include "image/resample/vector_lanes.h"

struct resample_geometry {
    size_t n;       // samples per pixel
    size_t ws, hs;  // source width and height
    size_t wd, hd;  // destination width and height
    size_t ls, ld;  // bytes of a source and of a destination row
    size_t ss, sd;  // bytes from the start of a source, of a destination row to the next
};

enum class resample_start {
    failed,    // return -1, errno as set (or untouched for a null destination)
    finished,  // return 0: the destination is complete, or there is none
    go,        // the caller resamples
};

// Fills g; when the widths are equal, copies the rows (the last source row
// repeated past the source's end) and reports finished.
resample_start start_resample(const pixel_view &src, const mutable_pixel_view &dst,
                              resample_geometry &g);

// A resampler's whole run: start_resample, then the resampling proper,
// rows.template operator()<V>(g, src, dst), which calls its kernels compiled
// for lanes V, the widest allowed.
template <class Rows>
int run_resampler(const pixel_view &src, const mutable_pixel_view &dst, const Rows &rows)
{
    resample_geometry g;
    switch (start_resample(src, dst, g)) {
    case resample_start::failed: return -1;
    case resample_start::finished: return 0;
    case resample_start::go: break;
    }
    return with_widest_lanes(
        [&]<class V>() { return rows.template operator()<V>(g, src.samples, dst.samples); });
}
