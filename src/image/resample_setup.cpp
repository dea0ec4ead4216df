#include "image/resample_setup.h"

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::atomic<bool> avx2_allowed{true};

bool cpu_has_avx2()
{
#ifdef VISTREL_AVX2
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

void set_resample_avx2(bool allowed) { avx2_allowed.store(allowed, std::memory_order_relaxed); }

bool resample_avx2_active()
{
    static const bool available = cpu_has_avx2();
    return available && avx2_allowed.load(std::memory_order_relaxed);
}

resample_start start_resample(const jpeg_decompress_struct &src_info,
                              const jpeg_compress_struct &dst_info, const JSAMPLE *src,
                              JSAMPLE **dst_ptr, resample_geometry &g)
{
    if (dst_ptr == nullptr || *dst_ptr == nullptr) return resample_start::failed;
    if (src_info.num_components < 1) {
        errno = EINVAL;
        return resample_start::failed;
    }
    g.n = static_cast<size_t>(src_info.num_components);
    g.ws = src_info.output_width;
    g.hs = src_info.output_height;
    g.wd = dst_info.image_width;
    g.hd = dst_info.image_height;
    if (__builtin_mul_overflow(g.ws, g.n, &g.ls) || __builtin_mul_overflow(g.wd, g.n, &g.ld)) {
        errno = ENOMEM;
        return resample_start::failed;
    }
    // An empty source has nothing to give to a destination that wants pixels.
    if ((g.ws == 0 || g.hs == 0) && g.wd != 0 && g.hd != 0) {
        errno = EINVAL;
        return resample_start::failed;
    }
    if (g.ws == g.wd) {
        JSAMPLE *const dst = *dst_ptr;
        for (size_t y = 0; y < g.hd; ++y) {
            const size_t row = y < g.hs ? y : g.hs - 1;
            std::memcpy(dst + y * g.ld, src + row * g.ls, g.ls);
        }
        return resample_start::finished;
    }
    if (g.wd == 0 || g.hd == 0) return resample_start::finished;
    return resample_start::go;
}
