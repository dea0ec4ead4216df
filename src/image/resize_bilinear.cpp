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
//   the baseline instruction set, four with AVX2 where the processor has it.
//   Each lane does exactly the scalar sequence, so both give the same bytes.
//
// Everything lives on the stack in blocks of columns: this resampler
// allocates nothing and so cannot fail for want of memory.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/resample.h"
#include "image/resample_setup.h"

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

#if defined(__SSE2__)
// Four bytes from p as two pairs of exact doubles.
inline void widen4(const JSAMPLE *p, vec2 &lo, vec2 &hi)
{
    int32_t bits;
    std::memcpy(&bits, p, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i i = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bits), zero), zero);
    lo = _mm_cvtepi32_pd(i);
    hi = _mm_cvtepi32_pd(_mm_shuffle_epi32(i, 0xee));
}
#endif

// One source row interpolated at the block's columns: P(r, x0) × wx +
// P(r, x1) × dx for every sample. N is the number of samples per pixel, 0
// for "any" (read from g.n).
template <int N>
void interpolate_columns(const geometry &g, const JSAMPLE *row, const column *cols, size_t count,
                         double *out)
{
    const size_t n = N > 0 ? static_cast<size_t>(N) : g.n;
    for (size_t j = 0; j < count; ++j, out += n) {
        const column &c = cols[j];
        const JSAMPLE *const left = row + c.o0;
        const JSAMPLE *const right = row + c.o1;
#if defined(__SSE2__)
        if constexpr (N == 3 || N == 4) {
            if (N == 4 || c.o1 + 4 <= g.ls) {  // o0 <= o1: both have four bytes to read
                // Four lanes in two pairs; with three samples the fourth
                // value is the next byte's and the next pixel overwrites it.
                vec2 l01, l23, r01, r23;
                widen4(left, l01, l23);
                widen4(right, r01, r23);
                const vec2 h01 = l01 * c.wx + r01 * c.dx;
                const vec2 h23 = l23 * c.wx + r23 * c.dx;
                std::memcpy(out, &h01, sizeof h01);
                std::memcpy(out + 2, &h23, sizeof h23);
                continue;
            }
        }
#endif
        for (size_t i = 0; i < n; ++i) out[i] = left[i] * c.wx + right[i] * c.dx;
    }
}

#if defined(__SSE2__)
// Four pairs of truncated values as eight bytes; the values lie in 0..255.
inline void store8(JSAMPLE *out, const __m128i (&i)[4])
{
    const __m128i w = _mm_packs_epi32(_mm_unpacklo_epi64(i[0], i[1]), _mm_unpacklo_epi64(i[2], i[3]));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(w, w));
}
#endif

// Truncates `count` values toward zero into bytes (rows with dy = 0.0).
void narrow(const double *v, size_t count, JSAMPLE *out)
{
    size_t k = 0;
#if defined(__SSE2__)
    for (; k + 8 <= count; k += 8) {
        __m128i i[4];
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) i[j] = _mm_cvttpd_epi32(_mm_loadu_pd(v + k + 2 * j));
        store8(out + k, i);
    }
#endif
    for (; k < count; ++k) out[k] = static_cast<JSAMPLE>(static_cast<int>(v[k]));
}

// top × wy + bottom × dy for `count` samples, truncated into bytes.
void blend(const double *top, const double *bottom, double wy, double dy, size_t count, JSAMPLE *out)
{
    size_t k = 0;
#if defined(__SSE2__)
    for (; k + 8 <= count; k += 8) {
        __m128i i[4];
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
            vec2 t, b;
            std::memcpy(&t, top + k + 2 * j, sizeof t);
            std::memcpy(&b, bottom + k + 2 * j, sizeof b);
            i[j] = _mm_cvttpd_epi32(t * wy + b * dy);
        }
        store8(out + k, i);
    }
#endif
    for (; k < count; ++k) out[k] = static_cast<JSAMPLE>(static_cast<int>(top[k] * wy + bottom[k] * dy));
}

#ifdef VISTREL_AVX2
// Four bytes from p as four exact doubles.
AVX2_CODE inline __m256d widen4(const JSAMPLE *p)
{
    int32_t bits;
    std::memcpy(&bits, p, 4);
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(bits)));
}

// A row's last pixel of three samples, whose fourth byte would lie past the row.
AVX2_CODE inline __m256d widen3(const JSAMPLE *p)
{
    return _mm256_setr_pd(p[0], p[1], p[2], 0.0);
}

// interpolate_columns() one pixel per vector. With three samples the fourth
// lane holds the next byte of the row (or 0 at its end), and each store
// writes one value past the pixel, which the next pixel overwrites (the row
// buffers have room for the last one's).
template <int N>
AVX2_CODE void interpolate_columns_avx2(const geometry &g, const JSAMPLE *row, const column *cols,
                                        size_t count, double *out)
{
    for (size_t j = 0; j < count; ++j, out += N) {
        const column &c = cols[j];
        __m256d left, right;
        if (N == 4 || c.o1 + 4 <= g.ls) {  // o0 <= o1: both have room
            left = widen4(row + c.o0);
            right = widen4(row + c.o1);
        } else {
            left = c.o0 + 4 <= g.ls ? widen4(row + c.o0) : widen3(row + c.o0);
            right = widen3(row + c.o1);
        }
        _mm256_storeu_pd(out, _mm256_add_pd(_mm256_mul_pd(left, _mm256_set1_pd(c.wx)),
                                            _mm256_mul_pd(right, _mm256_set1_pd(c.dx))));
    }
}

AVX2_CODE inline void store8(JSAMPLE *out, __m256d lo, __m256d hi)
{
    const __m128i w = _mm_packs_epi32(_mm256_cvttpd_epi32(lo), _mm256_cvttpd_epi32(hi));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(w, w));
}

AVX2_CODE void narrow_avx2(const double *v, size_t count, JSAMPLE *out)
{
    size_t k = 0;
    for (; k + 8 <= count; k += 8) store8(out + k, _mm256_loadu_pd(v + k), _mm256_loadu_pd(v + k + 4));
    for (; k < count; ++k) out[k] = static_cast<JSAMPLE>(static_cast<int>(v[k]));
}

AVX2_CODE void blend_avx2(const double *top, const double *bottom, double wy, double dy, size_t count,
                          JSAMPLE *out)
{
    const __m256d vwy = _mm256_set1_pd(wy), vdy = _mm256_set1_pd(dy);
    size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m256d lo = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(top + k), vwy),
                                         _mm256_mul_pd(_mm256_loadu_pd(bottom + k), vdy));
        const __m256d hi = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(top + k + 4), vwy),
                                         _mm256_mul_pd(_mm256_loadu_pd(bottom + k + 4), vdy));
        store8(out + k, lo, hi);
    }
    for (; k < count; ++k) out[k] = static_cast<JSAMPLE>(static_cast<int>(top[k] * wy + bottom[k] * dy));
}
#endif

using columns_fn = void (*)(const geometry &, const JSAMPLE *, const column *, size_t, double *);
using narrow_fn = void (*)(const double *, size_t, JSAMPLE *);
using blend_fn = void (*)(const double *, const double *, double, double, size_t, JSAMPLE *);

struct kernels {
    columns_fn columns;
    narrow_fn narrow;
    blend_fn blend;
};

template <int N>
kernels kernels_for(bool wide)
{
#ifdef VISTREL_AVX2
    if (wide) {
        if constexpr (N == 3 || N == 4) return {interpolate_columns_avx2<N>, narrow_avx2, blend_avx2};
        return {interpolate_columns<N>, narrow_avx2, blend_avx2};
    }
#endif
    (void)wide;
    return {interpolate_columns<N>, narrow, blend};
}

// The two most recently interpolated source rows of the current block (one
// spare value for the four-lane store of a last three-sample pixel).
struct row_cache {
    double values[2][block_samples + 1];
    size_t row[2];
    bool filled[2];
};

const double *cached_row(row_cache &cache, const kernels &k, const geometry &g, const JSAMPLE *src,
                         size_t row, const column *cols, size_t count, const double *keep)
{
    for (int i = 0; i < 2; ++i)
        if (cache.filled[i] && cache.row[i] == row) return cache.values[i];
    const int slot = cache.values[0] == keep ? 1 : 0;
    k.columns(g, src + row * g.ls, cols, count, cache.values[slot]);
    cache.row[slot] = row;
    cache.filled[slot] = true;
    return cache.values[slot];
}

template <int N>
void interpolate(const geometry &g, double q, const JSAMPLE *src, JSAMPLE *dst, bool wide)
{
    const kernels k = kernels_for<N>(wide);
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
            JSAMPLE *const out = dst + y * g.ld + x_begin * n;
            const double *top = cached_row(cache, k, g, src, r.y0, cols, count, nullptr);
            if (r.dy == 0.0) {
                k.narrow(top, samples, out);
                continue;
            }
            const double *bottom = cached_row(cache, k, g, src, r.y1, cols, count, top);
            k.blend(top, bottom, r.wy, r.dy, samples, out);
        }
    }
}

// Pixels too wide for a block: every sample straight from the source.
void interpolate_direct(const geometry &g, double q, const JSAMPLE *src, JSAMPLE *dst)
{
    column c;
    for (size_t y = 0; y < g.hd; ++y) {
        const row_position r = row_at(g, y, q);
        const JSAMPLE *const r0 = src + r.y0 * g.ls;
        const JSAMPLE *const r1 = src + r.y1 * g.ls;
        for (size_t x = 0; x < g.wd; ++x) {
            plan_columns(g, q, x, x + 1, &c);
            for (size_t i = 0; i < g.n; ++i) {
                const double top = r0[c.o0 + i] * c.wx + r0[c.o1 + i] * c.dx;
                const double bottom = r1[c.o0 + i] * c.wx + r1[c.o1 + i] * c.dx;
                const double value = top * r.wy + bottom * r.dy;
                dst[y * g.ld + x * g.n + i] = static_cast<JSAMPLE>(static_cast<int>(value));
            }
        }
    }
}

}  // namespace

int resize_bilinear(const jpeg_decompress_struct &src_info, const jpeg_compress_struct &dst_info,
                    const JSAMPLE *src, JSAMPLE **dst_ptr)
{
    geometry g;
    switch (start_resample(src_info, dst_info, src, dst_ptr, g)) {
    case resample_start::failed: return -1;
    case resample_start::finished: return 0;
    case resample_start::go: break;
    }
    JSAMPLE *const dst = *dst_ptr;

    const double q = static_cast<double>(g.ws) / static_cast<double>(g.wd);
    const bool wide = resample_avx2_active();
    switch (g.n) {
    case 1: interpolate<1>(g, q, src, dst, wide); break;
    case 2: interpolate<2>(g, q, src, dst, wide); break;
    case 3: interpolate<3>(g, q, src, dst, wide); break;
    case 4: interpolate<4>(g, q, src, dst, wide); break;
    default:
        if (g.n <= block_samples)
            interpolate<0>(g, q, src, dst, wide);
        else
            interpolate_direct(g, q, src, dst);
        break;
    }
    return 0;
}
