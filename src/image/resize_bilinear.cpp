// Bilinear resampler.
//
// Each destination sample interpolates the four source pixels around the
// point (x × q, y × q), q being the ratio of the widths. The bytes must come
// out identical everywhere, so every sample is the same fixed sequence of
// IEEE double products and sums; the speed comes from doing less around it:
//
// - The column positions, neighbours and weights depend on x alone and are
//   worked out once per block of columns (on the stack: this resampler
//   allocates nothing and so cannot fail for want of memory), not once per
//   destination pixel.
// - A row whose fraction dy is 0.0 needs no bottom row: top × 1.0 +
//   bottom × 0.0 is top itself, bottom being finite and non-negative.
// - Every sample of a pixel is computed alike whatever the number of samples,
//   so CMYK and two-sample images come out right; pixels of up to four
//   samples are computed as one vector.

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/resample.h"

namespace {

using vec4 = double __attribute__((vector_size(32)));
using bytes4 = unsigned char __attribute__((vector_size(4)));
using ints4 = int __attribute__((vector_size(16)));

struct geometry {
    size_t n, ws, hs, wd, hd, ls, ld;
};

struct column {
    size_t o0, o1;  // byte offsets of the left and right neighbours in a row
    double wx, dx;
};

// Columns per block of precomputed positions: 24 KiB of stack.
constexpr size_t block_columns = 768;

// Row position of destination row y: source rows y0 and y1, weights wy and dy.
struct row_position {
    size_t y0, y1;
    double wy, dy;
};

row_position row_at(const geometry &g, size_t y, double q)
{
    const double fy = static_cast<double>(y) * q;
    const double iy = std::trunc(fy);  // stays a double: fy may exceed every integer type
    row_position r;
    r.dy = fy - iy;
    r.wy = 1.0 - r.dy;
    const double last = static_cast<double>(g.hs - 1);
    r.y0 = iy > last ? g.hs - 1 : static_cast<size_t>(iy);
    r.y1 = iy + 1.0 > last ? g.hs - 1 : r.y0 + 1;
    return r;
}

void plan_columns(const geometry &g, double q, size_t x_begin, size_t x_end, column *cols)
{
    for (size_t x = x_begin; x < x_end; ++x) {
        const double fx = static_cast<double>(x) * q;
        const double ix = std::trunc(fx);
        column &c = cols[x - x_begin];
        c.dx = fx - ix;
        c.wx = 1.0 - c.dx;
        // x × q stays below Ws for every x below Wd; the bound only keeps
        // a pathological rounding from reading past the row.
        const double last = static_cast<double>(g.ws - 1);
        const size_t x0 = ix > last ? g.ws - 1 : static_cast<size_t>(ix);
        const size_t x1 = ix + 1.0 > last ? g.ws - 1 : x0 + 1;
        c.o0 = x0 * g.n;
        c.o1 = x1 * g.n;
    }
}

// Up to four samples as vector lanes; lanes past N are zero and never
// stored. Vectors pass by reference: by value they would change the calling
// convention between builds with and without AVX.
template <int N>
inline void load_pixel(const JSAMPLE *p, vec4 &v)
{
    bytes4 b = {0, 0, 0, 0};
    std::memcpy(&b, p, N);
    v = __builtin_convertvector(b, vec4);
}

template <int N>
inline void store_pixel(JSAMPLE *out, const vec4 &v)
{
    const ints4 i = __builtin_convertvector(v, ints4);  // truncation toward zero
    for (int k = 0; k < N; ++k) out[k] = static_cast<JSAMPLE>(i[k]);
}

// One block of columns of one destination row. N is the number of samples
// per pixel, 0 for "any" (read from g.n).
template <int N>
void interpolate_row(const geometry &g, const row_position &r, const JSAMPLE *src,
                     const column *cols, size_t count, JSAMPLE *out)
{
    const JSAMPLE *const r0 = src + r.y0 * g.ls;
    const JSAMPLE *const r1 = src + r.y1 * g.ls;
    const double wy = r.wy, dy = r.dy;
    if constexpr (N == 1) {
        if (dy == 0.0) {
            for (size_t j = 0; j < count; ++j) {
                const column &c = cols[j];
                const double top = r0[c.o0] * c.wx + r0[c.o1] * c.dx;
                out[j] = static_cast<JSAMPLE>(static_cast<int>(top));
            }
            return;
        }
        for (size_t j = 0; j < count; ++j) {
            const column &c = cols[j];
            const double top = r0[c.o0] * c.wx + r0[c.o1] * c.dx;
            const double bottom = r1[c.o0] * c.wx + r1[c.o1] * c.dx;
            const double value = top * wy + bottom * dy;
            out[j] = static_cast<JSAMPLE>(static_cast<int>(value));
        }
    } else if constexpr (N >= 2 && N <= 4) {
        vec4 p00, p01, p10, p11;
        if (dy == 0.0) {
            for (size_t j = 0; j < count; ++j, out += N) {
                const column &c = cols[j];
                load_pixel<N>(r0 + c.o0, p00);
                load_pixel<N>(r0 + c.o1, p01);
                const vec4 top = p00 * c.wx + p01 * c.dx;
                store_pixel<N>(out, top);
            }
            return;
        }
        for (size_t j = 0; j < count; ++j, out += N) {
            const column &c = cols[j];
            load_pixel<N>(r0 + c.o0, p00);
            load_pixel<N>(r0 + c.o1, p01);
            load_pixel<N>(r1 + c.o0, p10);
            load_pixel<N>(r1 + c.o1, p11);
            const vec4 top = p00 * c.wx + p01 * c.dx;
            const vec4 bottom = p10 * c.wx + p11 * c.dx;
            const vec4 value = top * wy + bottom * dy;
            store_pixel<N>(out, value);
        }
    } else {
        const size_t n = g.n;
        for (size_t j = 0; j < count; ++j, out += n) {
            const column &c = cols[j];
            for (size_t i = 0; i < n; ++i) {
                const double top = r0[c.o0 + i] * c.wx + r0[c.o1 + i] * c.dx;
                const double bottom = r1[c.o0 + i] * c.wx + r1[c.o1 + i] * c.dx;
                const double value = top * wy + bottom * dy;
                out[i] = static_cast<JSAMPLE>(static_cast<int>(value));
            }
        }
    }
}

template <int N>
void interpolate(const geometry &g, double q, const JSAMPLE *src, JSAMPLE *dst)
{
    column cols[block_columns];
    for (size_t x_begin = 0; x_begin < g.wd; x_begin += block_columns) {
        const size_t x_end = g.wd - x_begin < block_columns ? g.wd : x_begin + block_columns;
        plan_columns(g, q, x_begin, x_end, cols);
        for (size_t y = 0; y < g.hd; ++y) {
            const row_position r = row_at(g, y, q);
            interpolate_row<N>(g, r, src, cols, x_end - x_begin, dst + y * g.ld + x_begin * g.n);
        }
    }
}

}  // namespace

int resize_bilinear(const jpeg_decompress_struct &src_info, const jpeg_compress_struct &dst_info,
                    const JSAMPLE *src, JSAMPLE **dst_ptr)
{
    if (dst_ptr == nullptr || *dst_ptr == nullptr) return -1;
    JSAMPLE *const dst = *dst_ptr;

    if (src_info.num_components < 1) {
        errno = EINVAL;
        return -1;
    }
    geometry g;
    g.n = static_cast<size_t>(src_info.num_components);
    g.ws = src_info.output_width;
    g.hs = src_info.output_height;
    g.wd = dst_info.image_width;
    g.hd = dst_info.image_height;
    if (__builtin_mul_overflow(g.ws, g.n, &g.ls) || __builtin_mul_overflow(g.wd, g.n, &g.ld)) {
        errno = ENOMEM;
        return -1;
    }
    // An empty source has nothing to give to a destination that wants pixels.
    if ((g.ws == 0 || g.hs == 0) && g.wd != 0 && g.hd != 0) {
        errno = EINVAL;
        return -1;
    }

    if (g.ws == g.wd) {
        for (size_t y = 0; y < g.hd; ++y) {
            const size_t row = y < g.hs ? y : g.hs - 1;
            std::memcpy(dst + y * g.ld, src + row * g.ls, g.ls);
        }
        return 0;
    }
    if (g.wd == 0 || g.hd == 0) return 0;

    const double q = static_cast<double>(g.ws) / static_cast<double>(g.wd);
    switch (g.n) {
    case 1: interpolate<1>(g, q, src, dst); break;
    case 2: interpolate<2>(g, q, src, dst); break;
    case 3: interpolate<3>(g, q, src, dst); break;
    case 4: interpolate<4>(g, q, src, dst); break;
    default: interpolate<0>(g, q, src, dst); break;
    }
    return 0;
}
