// Bilinear resampler.
//
// Each destination sample interpolates the four source pixels around the
// point (x × q, y × q), q being the ratio of the widths. The bytes must come
// out identical everywhere, so every sample is the same fixed sequence of
// IEEE double products and sums,
//     top = P(y0, x0) × wx + P(y0, x1) × dx
//     bottom = P(y1, x0) × wx + P(y1, x1) × dx
//     value = top × wy + bottom × dy,
// and the speed comes from doing less around it:
//
// - top and bottom depend on one source row and the column alone, so a source
//   row's interpolated values are computed once and serve every destination
//   row that uses that source row (two such rows are kept).
// - The column positions, neighbours and weights depend on x alone and are
//   computed once per block of columns.
// - A row whose fraction dy is 0.0 needs no bottom row: top × 1.0 +
//   bottom × 0.0 is top itself, bottom being finite and non-negative.
// - Every sample of a pixel is computed alike whatever the number of samples,
//   so CMYK and two-sample images come out right.
// - The arithmetic runs in vector lanes, one sample per lane: two lanes on
//   the baseline instruction set, four with AVX2 where the processor has it,
//   the same code compiled for each. Each lane does exactly the scalar
//   sequence, so both give the same bytes.
//
// Everything lives on the stack in blocks of columns: this resampler
// allocates nothing and so cannot fail for want of memory.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/resample/resample.h"
#include "image/resample/resample_geometry.h"
#include "image/resample/vector_lanes.h"

namespace {

using geometry = resample_geometry;

struct column {
    size_t o0, o1;  // byte offsets of the left and right neighbours in a row
    double wx, dx;
};

// Samples per block of columns: with the two cached rows about 48 KiB of stack.
constexpr size_t block_samples = 1024;

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
    const double last = static_cast<double>(g.ws - 1);
    for (size_t x = x_begin; x < x_end; ++x) {
        const double fx = static_cast<double>(x) * q;
        const double ix = std::trunc(fx);
        column &c = cols[x - x_begin];
        c.dx = fx - ix;
        c.wx = 1.0 - c.dx;
        // x × q stays below Ws for every x below Wd; the bound only keeps a
        // pathological rounding from reading past the row.
        const size_t x0 = ix > last ? g.ws - 1 : static_cast<size_t>(ix);
        const size_t x1 = ix + 1.0 > last ? g.ws - 1 : x0 + 1;
        c.o0 = x0 * g.n;
        c.o1 = x1 * g.n;
    }
}

// One source row interpolated at the block's columns: P(r, x0) × wx +
// P(r, x1) × dx for every sample. N is the number of samples per pixel, 0
// for "any" (read from g.n). A pixel of three or four samples takes four
// lanes; with three the fourth value is the next byte's and the next pixel
// overwrites it (the row buffers have room for the last one's).
template <class V, int N>
void interpolate_columns(const geometry &g, const uint8_t *row, const column *cols, size_t count,
                         double *out)
{
    const size_t n = N > 0 ? static_cast<size_t>(N) : g.n;
    for (size_t j = 0; j < count; ++j, out += n) {
        const column &c = cols[j];
        const uint8_t *const left = row + c.o0;
        const uint8_t *const right = row + c.o1;
        if constexpr (N == 3 || N == 4) {
            if (N == 4 || c.o1 + 4 <= g.ls) [[likely]] {  // o0 <= o1: both have four bytes to read
                constexpr int L = lanes<V>, K = 4 / L;
                V l[K], r[K], h[K];
                bytes_to_doubles<4>(left, l);
                bytes_to_doubles<4>(right, r);
#pragma GCC unroll 4
                for (int i = 0; i < K; ++i) h[i] = l[i] * c.wx + r[i] * c.dx;
#pragma GCC unroll 4
                // After every read of c, which these stores could alias.
                for (int i = 0; i < K; ++i) store(out + L * i, h[i]);
                continue;
            }
        }
        for (size_t i = 0; i < n; ++i) out[i] = left[i] * c.wx + right[i] * c.dx;
    }
}

// Truncates `count` values toward zero into bytes (rows with dy = 0.0).
template <class V>
void narrow(const double *v, size_t count, uint8_t *out)
{
    constexpr int L = lanes<V>, K = 8 / L;
    size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        V x[K];
#pragma GCC unroll 4
        for (int i = 0; i < K; ++i) load(x[i], v + k + L * i);
        const byte_vector<8> b = doubles_to_bytes<8>(x);
        std::memcpy(out + k, &b, 8);
    }
    for (; k < count; ++k) out[k] = static_cast<uint8_t>(static_cast<int>(v[k]));
}

// top × wy + bottom × dy for `count` samples, truncated into bytes.
template <class V>
void blend(const double *top, const double *bottom, double wy, double dy, size_t count,
           uint8_t *out)
{
    constexpr int L = lanes<V>, K = 8 / L;
    size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        V x[K];
#pragma GCC unroll 4
        for (int i = 0; i < K; ++i) {
            V t, b;
            load(t, top + k + L * i);
            load(b, bottom + k + L * i);
            x[i] = t * wy + b * dy;
        }
        const byte_vector<8> b = doubles_to_bytes<8>(x);
        std::memcpy(out + k, &b, 8);
    }
    for (; k < count; ++k)
        out[k] = static_cast<uint8_t>(static_cast<int>(top[k] * wy + bottom[k] * dy));
}

// The two most recently interpolated source rows of the current block (one
// spare value for the four-lane store of a last three-sample pixel).
struct row_cache {
    double values[2][block_samples + 1];
    size_t row[2];
    bool filled[2];
};

template <class V, int N>
const double *cached_row(row_cache &cache, const geometry &g, const uint8_t *src, size_t row,
                         const column *cols, size_t count, const double *keep)
{
    for (int i = 0; i < 2; ++i)
        if (cache.filled[i] && cache.row[i] == row) return cache.values[i];
    const int slot = cache.values[0] == keep ? 1 : 0;
    compiled<V, interpolate_columns<V, N>>(g, src + row * g.ss, cols, count, cache.values[slot]);
    cache.row[slot] = row;
    cache.filled[slot] = true;
    return cache.values[slot];
}

template <class V, int N>
void interpolate(const geometry &g, double q, const uint8_t *src, uint8_t *dst)
{
    const size_t n = N > 0 ? static_cast<size_t>(N) : g.n;
    const size_t block = block_samples / n;
    column cols[block_samples];
    row_cache cache;
    for (size_t x_begin = 0; x_begin < g.wd; x_begin += block) {
        const size_t x_end = g.wd - x_begin < block ? g.wd : x_begin + block;
        const size_t count = x_end - x_begin;
        const size_t samples = count * n;
        plan_columns(g, q, x_begin, x_end, cols);
        cache.filled[0] = cache.filled[1] = false;
        for (size_t y = 0; y < g.hd; ++y) {
            const row_position r = row_at(g, y, q);
            uint8_t *const out = dst + y * g.sd + x_begin * n;
            const double *top = cached_row<V, N>(cache, g, src, r.y0, cols, count, nullptr);
            if (r.dy == 0.0) {
                compiled<V, narrow<V>>(top, samples, out);
                continue;
            }
            const double *bottom = cached_row<V, N>(cache, g, src, r.y1, cols, count, top);
            compiled<V, blend<V>>(top, bottom, r.wy, r.dy, samples, out);
        }
    }
}

// Pixels too wide for a block: every sample straight from the source.
void interpolate_direct(const geometry &g, double q, const uint8_t *src, uint8_t *dst)
{
    column c;
    for (size_t y = 0; y < g.hd; ++y) {
        const row_position r = row_at(g, y, q);
        const uint8_t *const r0 = src + r.y0 * g.ss;
        const uint8_t *const r1 = src + r.y1 * g.ss;
        for (size_t x = 0; x < g.wd; ++x) {
            plan_columns(g, q, x, x + 1, &c);
            for (size_t i = 0; i < g.n; ++i) {
                const double top = r0[c.o0 + i] * c.wx + r0[c.o1 + i] * c.dx;
                const double bottom = r1[c.o0 + i] * c.wx + r1[c.o1 + i] * c.dx;
                const double value = top * r.wy + bottom * r.dy;
                dst[y * g.sd + x * g.n + i] = static_cast<uint8_t>(static_cast<int>(value));
            }
        }
    }
}

// Everything after the checks, with the kernels for lanes V.
template <class V>
int bilinear(const geometry &g, const uint8_t *src, uint8_t *dst)
{
    const double q = static_cast<double>(g.ws) / static_cast<double>(g.wd);
    const bool fixed = with_count<4>(g.n, [&]<int N>() { interpolate<V, N>(g, q, src, dst); });
    if (!fixed) {
        if (g.n <= block_samples)
            interpolate<V, 0>(g, q, src, dst);
        else
            interpolate_direct(g, q, src, dst);
    }
    return 0;
}

}  // namespace

int resize_bilinear(const pixel_view &src, const mutable_pixel_view &dst)
{
    return run_resampler(src, dst,
                         []<class V>(const geometry &g, const uint8_t *from, uint8_t *to) {
                             return bilinear<V>(g, from, to);
                         });
}
