#include "image/resample/resample_geometry.h"

#include <cerrno>
#include <cstring>

resample_start start_resample(const pixel_view &src, const mutable_pixel_view &dst,
                              resample_geometry &g)
{
    if (dst.samples == nullptr) return resample_start::failed;
    if (src.components < 1 || dst.components != src.components) {
        errno = EINVAL;
        return resample_start::failed;
    }
    g.n = static_cast<size_t>(src.components);
    g.ws = src.width;
    g.hs = src.height;
    g.wd = dst.width;
    g.hd = dst.height;
    g.ss = src.stride;
    g.sd = dst.stride;
    if (__builtin_mul_overflow(g.ws, g.n, &g.ls) || __builtin_mul_overflow(g.wd, g.n, &g.ld)) {
        errno = ENOMEM;
        return resample_start::failed;
    }
    // Rows that overlap, and an empty source that has nothing to give to a
    // destination that wants pixels.
    if (g.ss < g.ls || g.sd < g.ld || ((g.ws == 0 || g.hs == 0) && g.wd != 0 && g.hd != 0)) {
        errno = EINVAL;
        return resample_start::failed;
    }
    if (g.ws == g.wd) {
        for (size_t y = 0; y < g.hd; ++y) {
            const size_t row = y < g.hs ? y : g.hs - 1;
            std::memcpy(dst.samples + y * g.sd, src.samples + row * g.ss, g.ls);
        }
        return resample_start::finished;
    }
    if (g.wd == 0 || g.hd == 0) return resample_start::finished;
    return resample_start::go;
}
