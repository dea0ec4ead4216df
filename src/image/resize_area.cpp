// Area-averaging resampler.
//
// Every destination pixel is the mean of the source area it covers, source
// rows and columns weighted by their overlap measured in destination pixels.
// The bytes must come out identical everywhere, so each sample's arithmetic is
// a fixed sequence of IEEE double products and sums, rounded one by one in a
// fixed order; the speed comes only from doing that same sequence with less
// overhead:
//
// - The horizontal fold depends on the widths alone, so its (column, weight)
//   pairs are worked out once per call into a table, per destination pixel,
//   all lists padded to one length.
// - The vertical pass is a state machine run across the destination rows; its
//   (row, weight) steps for one destination row are collected first and then
//   applied several source rows per sweep over the accumulator.
// - A destination row whose steps equal the previous row's has the same
//   accumulator and so the same bytes: it is copied (enlarging).
// - Once the source rows are used up, every step reads the last row, so the
//   accumulator is a function of one byte: a 256-entry table replaces sweeps
//   that could otherwise be very long.
// - Every sample of a pixel is treated alike whatever the number of samples,
//   so CMYK and two-sample images come out right.
// - The sums run in vector lanes, one sample per lane: two lanes on the
//   baseline instruction set, four with AVX2 where the processor has it. Each
//   lane does exactly the scalar sequence, so both give the same bytes.
//
// The first addition into a cleared accumulator, 0.0 + v × w, is written as
// v × w: every product here is non-negative, and adding +0.0 to it changes
// nothing.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/resample.h"
#include "image/resample_setup.h"

namespace {

using geometry = resample_geometry;

// The horizontal fold for the widths: destination pixel p sums `terms`
// source columns from first[p] on, with weights[p × terms + j]. A pixel that
// overlaps fewer columns has its list padded with weight 0.0, which adds
// +0.0 to a non-negative sum and so changes nothing; the equal lengths keep
// the fold free of unpredictable branches.
struct column_plan {
    size_t terms;
    size_t reach;  // columns that the padded lists read past the last one
    uint32_t *first;
    double *weights;
};

// One addition of a source row into the vertical accumulator.
struct row_step {
    const JSAMPLE *row;
    double weight;
};

// The vertical state that runs on from one destination row to the next.
struct vertical_state {
    double c;       // what the current source row still has to give
    bool f;         // the next step must move on to a new source row
    size_t t;       // source rows taken so far
    size_t current; // the current source row
};

// Steps of one destination row, collected before any sweep. Longer recipes
// (reductions beyond about 60 : 1) are applied in parts as they come.
constexpr size_t max_recipe = 64;

bool multiply(size_t a, size_t b, size_t *out) { return !__builtin_mul_overflow(a, b, out); }
bool add(size_t a, size_t b, size_t *out) { return !__builtin_add_overflow(a, b, out); }

// Runs the vertical pass of one destination row, handing its steps in order
// to `emit(row index, weight)`.
template <class Emit>
inline void vertical_pass(vertical_state &st, double s, size_t hs, Emit &&emit)
{
    auto take_next = [&] {
        if (st.t < hs) {
            st.current = st.t;
            st.t = st.t + 1;
            st.f = false;
        } else {
            st.f = true;
        }
    };
    double r = 1.0;
    if (st.c < 1.0) {
        do {
            if (st.f && st.t < hs) {
                st.current = st.t;
                st.t = st.t + 1;
            }
            emit(st.current, st.c);
            r = r - st.c;
            st.c = s;
            st.f = true;
        } while (r > s);
        take_next();
    } else if (st.f) {
        take_next();
    }
    emit(st.current, r);
    st.c = st.c - r;
    if (st.c <= 0.0) {
        st.f = true;
        st.c = s;
    }
}

inline vec2 load2(const double *p)
{
    vec2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store2(double *p, vec2 v) { std::memcpy(p, &v, sizeof v); }

// Eight bytes as four pairs of exact doubles.
inline void widen8(const JSAMPLE *p, vec2 out[4])
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i b16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero);
    const __m128i lo = _mm_unpacklo_epi16(b16, zero);
    const __m128i hi = _mm_unpackhi_epi16(b16, zero);
    out[0] = _mm_cvtepi32_pd(lo);
    out[1] = _mm_cvtepi32_pd(_mm_shuffle_epi32(lo, 0xee));
    out[2] = _mm_cvtepi32_pd(hi);
    out[3] = _mm_cvtepi32_pd(_mm_shuffle_epi32(hi, 0xee));
#else
    for (int i = 0; i < 4; ++i) out[i] = vec2{static_cast<double>(p[2 * i]), static_cast<double>(p[2 * i + 1])};
#endif
}

// a[k] = a[k] + row0[k] × w0 + row1[k] × w1 + ..., left to right, for R rows;
// with `fresh` the accumulator starts from the first product.
template <int R, bool fresh>
void sweep(double *a, size_t ls, const row_step *steps)
{
    const JSAMPLE *rows[R];
    double w[R];
    for (int j = 0; j < R; ++j) {
        rows[j] = steps[j].row;
        w[j] = steps[j].weight;
    }
    size_t k = 0;
    // The fixed-count loops are unrolled so that the lanes stay in registers.
    for (; k + 8 <= ls; k += 8) {
        vec2 acc[4], x[4];
        widen8(rows[0] + k, x);
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) acc[i] = fresh ? x[i] * w[0] : load2(a + k + 2 * i) + x[i] * w[0];
#pragma GCC unroll 8
        for (int j = 1; j < R; ++j) {
            widen8(rows[j] + k, x);
#pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) acc[i] = acc[i] + x[i] * w[j];
        }
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) store2(a + k + 2 * i, acc[i]);
    }
    for (; k < ls; ++k) {
        double v = fresh ? rows[0][k] * w[0] : a[k] + rows[0][k] * w[0];
        for (int j = 1; j < R; ++j) v = v + rows[j][k] * w[j];
        a[k] = v;
    }
}

#ifdef VISTREL_AVX2
// Eight bytes as two vectors of four exact doubles.
AVX2_CODE inline void widen8(const JSAMPLE *p, __m256d &lo, __m256d &hi)
{
    int32_t b0, b1;
    std::memcpy(&b0, p, 4);
    std::memcpy(&b1, p + 4, 4);
    lo = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(b0)));
    hi = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(b1)));
}

// sweep() in four lanes.
template <int R, bool fresh>
AVX2_CODE void sweep_avx2(double *a, size_t ls, const row_step *steps)
{
    const JSAMPLE *rows[R];
    __m256d w[R];
    for (int j = 0; j < R; ++j) {
        rows[j] = steps[j].row;
        w[j] = _mm256_set1_pd(steps[j].weight);
    }
    size_t k = 0;
    for (; k + 8 <= ls; k += 8) {
        __m256d lo, hi, x, y;
        widen8(rows[0] + k, x, y);
        if (fresh) {
            lo = _mm256_mul_pd(x, w[0]);
            hi = _mm256_mul_pd(y, w[0]);
        } else {
            lo = _mm256_add_pd(_mm256_loadu_pd(a + k), _mm256_mul_pd(x, w[0]));
            hi = _mm256_add_pd(_mm256_loadu_pd(a + k + 4), _mm256_mul_pd(y, w[0]));
        }
#pragma GCC unroll 8
        for (int j = 1; j < R; ++j) {
            widen8(rows[j] + k, x, y);
            lo = _mm256_add_pd(lo, _mm256_mul_pd(x, w[j]));
            hi = _mm256_add_pd(hi, _mm256_mul_pd(y, w[j]));
        }
        _mm256_storeu_pd(a + k, lo);
        _mm256_storeu_pd(a + k + 4, hi);
    }
    for (; k < ls; ++k) {
        double v = fresh ? rows[0][k] * steps[0].weight : a[k] + rows[0][k] * steps[0].weight;
        for (int j = 1; j < R; ++j) v = v + rows[j][k] * steps[j].weight;
        a[k] = v;
    }
}
#endif

// Applies steps to the accumulator, up to four rows per sweep on the
// baseline and eight with AVX2 (registers allowing).
void apply_steps(bool wide, double *a, size_t ls, const row_step *steps, size_t count, bool &started)
{
    while (count > 0) {
        size_t m;
#ifdef VISTREL_AVX2
        if (wide) {
            m = count < 8 ? count : 8;
            switch (m * 2 + (started ? 0 : 1)) {
            case 2: sweep_avx2<1, false>(a, ls, steps); break;
            case 3: sweep_avx2<1, true>(a, ls, steps); break;
            case 4: sweep_avx2<2, false>(a, ls, steps); break;
            case 5: sweep_avx2<2, true>(a, ls, steps); break;
            case 6: sweep_avx2<3, false>(a, ls, steps); break;
            case 7: sweep_avx2<3, true>(a, ls, steps); break;
            case 8: sweep_avx2<4, false>(a, ls, steps); break;
            case 9: sweep_avx2<4, true>(a, ls, steps); break;
            case 10: sweep_avx2<5, false>(a, ls, steps); break;
            case 11: sweep_avx2<5, true>(a, ls, steps); break;
            case 12: sweep_avx2<6, false>(a, ls, steps); break;
            case 13: sweep_avx2<6, true>(a, ls, steps); break;
            case 14: sweep_avx2<7, false>(a, ls, steps); break;
            case 15: sweep_avx2<7, true>(a, ls, steps); break;
            case 16: sweep_avx2<8, false>(a, ls, steps); break;
            default: sweep_avx2<8, true>(a, ls, steps); break;
            }
            started = true;
            steps += m;
            count -= m;
            continue;
        }
#endif
        (void)wide;
        m = count < 4 ? count : 4;
        switch (m * 2 + (started ? 0 : 1)) {
        case 2: sweep<1, false>(a, ls, steps); break;
        case 3: sweep<1, true>(a, ls, steps); break;
        case 4: sweep<2, false>(a, ls, steps); break;
        case 5: sweep<2, true>(a, ls, steps); break;
        case 6: sweep<3, false>(a, ls, steps); break;
        case 7: sweep<3, true>(a, ls, steps); break;
        case 8: sweep<4, false>(a, ls, steps); break;
        default: sweep<4, true>(a, ls, steps); break;
        }
        started = true;
        steps += m;
        count -= m;
    }
}

bool same_steps(const row_step *a, const row_step *b, size_t count)
{
    for (size_t j = 0; j < count; ++j)
        if (a[j].row != b[j].row || a[j].weight != b[j].weight) return false;
    return true;
}

// The same additions for every possible byte value, when all steps read one row.
void apply_steps_to_table(double *table, const row_step *steps, size_t count, bool &started)
{
    for (size_t j = 0; j < count; ++j) {
        const double w = steps[j].weight;
        if (!started) {
            for (int b = 0; b < 256; ++b) table[b] = b * w;
        } else {
            for (int b = 0; b < 256; ++b) table[b] = table[b] + b * w;
        }
        started = true;
    }
}

// Runs the horizontal fold for the widths, handing each addition in order to
// add(p, x, w): source column x into destination pixel p with weight w.
// Additions that land past the last destination pixel are never converted,
// so they are left out.
template <class Add>
void walk_columns(const geometry &g, double s, Add &&add)
{
    size_t p = 0;
    double gap = 1.0;  // the room left in pixel p
    bool u = false;    // pixel p is full
    for (size_t x = 0; x < g.ws && p < g.wd; ++x) {
        if (s >= gap) {
            if (u) ++p;
            if (p < g.wd) add(p, x, gap);
            double h = s - gap;
            u = true;
            while (h >= 1.0 && p < g.wd) {
                ++p;
                if (p < g.wd) add(p, x, 1.0);  // v × 1.0 is v: the same as adding v itself
                h = h - 1.0;
            }
            gap = 1.0;
            if (h > 0.0) {
                ++p;
                if (p < g.wd) add(p, x, h);
                gap = 1.0 - h;
                u = false;
            }
        } else {
            if (u) ++p;
            if (p < g.wd) add(p, x, s);
            gap = gap - s;
            u = false;
        }
    }
}

// The longest list of any pixel, and how far past the last column the
// padded lists reach. Pixels come in order, each from consecutive columns.
void measure_columns(const geometry &g, double s, column_plan &plan)
{
    size_t current = SIZE_MAX, count = 0, last_first = 0;
    plan.terms = 1;
    walk_columns(g, s, [&](size_t p, size_t x, double) {
        if (p != current) {
            current = p;
            count = 0;
            last_first = x;
        }
        ++count;
        if (count > plan.terms) plan.terms = count;
    });
    // first[p] never decreases, so the last pixel's list reaches furthest.
    plan.reach = last_first + plan.terms > g.ws ? last_first + plan.terms - g.ws : 0;
}

void fill_columns(const geometry &g, double s, column_plan &plan)
{
    for (size_t p = 0; p < g.wd; ++p) plan.first[p] = 0;
    for (size_t k = 0; k < g.wd * plan.terms; ++k) plan.weights[k] = 0.0;
    size_t current = SIZE_MAX, count = 0;
    walk_columns(g, s, [&](size_t p, size_t x, double w) {
        if (p != current) {
            current = p;
            count = 0;
            plan.first[p] = static_cast<uint32_t>(x);
        }
        plan.weights[p * plan.terms + count++] = w;
    });
}

inline void store_bytes(JSAMPLE *out, const double *v, size_t n)
{
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<JSAMPLE>(static_cast<int>(v[i]));
}

// Folds the accumulator row into destination pixels and converts them.
// N is the number of samples per pixel, 0 for "any" (read from g.n).
// T is the list length when known at compile time (0: plan.terms).
template <int N, int T>
void fold_row(const geometry &g, const double *a, const column_plan &plan, JSAMPLE *out)
{
    const size_t n = N > 0 ? static_cast<size_t>(N) : g.n;
    const size_t terms = T > 0 ? T : plan.terms;
    const double *w = plan.weights;
    for (size_t p = 0; p < g.wd; ++p, out += n, w += terms) {
        const double *v = a + static_cast<size_t>(plan.first[p]) * n;
        if constexpr (N == 1) {
            double b = v[0] * w[0];
#pragma GCC unroll 16
            for (size_t j = 1; j < terms; ++j) b = b + v[j] * w[j];
            out[0] = static_cast<JSAMPLE>(static_cast<int>(b));
        } else if constexpr (N == 2 || N == 4) {
            constexpr int pairs = N / 2;
            vec2 b[pairs];
            for (int i = 0; i < pairs; ++i) b[i] = load2(v + 2 * i) * w[0];
#pragma GCC unroll 16
            for (size_t j = 1; j < terms; ++j)
                for (int i = 0; i < pairs; ++i) b[i] = b[i] + load2(v + N * j + 2 * i) * w[j];
            for (int i = 0; i < pairs; ++i) {
                out[2 * i] = static_cast<JSAMPLE>(static_cast<int>(b[i][0]));
                out[2 * i + 1] = static_cast<JSAMPLE>(static_cast<int>(b[i][1]));
            }
        } else if constexpr (N == 3) {
            vec2 b01 = load2(v) * w[0];
            double b2 = v[2] * w[0];
#pragma GCC unroll 16
            for (size_t j = 1; j < terms; ++j) {
                b01 = b01 + load2(v + 3 * j) * w[j];
                b2 = b2 + v[3 * j + 2] * w[j];
            }
            out[0] = static_cast<JSAMPLE>(static_cast<int>(b01[0]));
            out[1] = static_cast<JSAMPLE>(static_cast<int>(b01[1]));
            out[2] = static_cast<JSAMPLE>(static_cast<int>(b2));
        } else {
            double b[16];
            for (size_t off = 0; off < n; off += 16) {
                const size_t m = n - off < 16 ? n - off : 16;
                for (size_t i = 0; i < m; ++i) b[i] = v[off + i] * w[0];
                for (size_t j = 1; j < terms; ++j)
                    for (size_t i = 0; i < m; ++i) b[i] = b[i] + v[n * j + off + i] * w[j];
                store_bytes(out + off, b, m);
            }
        }
    }
}

using fold_fn = void (*)(const geometry &, const double *, const column_plan &, JSAMPLE *);

#ifdef VISTREL_AVX2
// One pixel of three or four samples folded in four lanes; T is the list
// length when known at compile time (0: `terms`). With three samples the
// fourth lane reads the next pixel's first sample (or the accumulator's zero
// padding) and is never stored for good.
template <int N, int T>
AVX2_CODE inline __m256d fold_pixel(const double *v, const double *w, size_t terms)
{
    __m256d b = _mm256_mul_pd(_mm256_loadu_pd(v), _mm256_broadcast_sd(w));
    const size_t count = T > 0 ? T : terms;
#pragma GCC unroll 16
    for (size_t j = 1; j < count; ++j)
        b = _mm256_add_pd(b, _mm256_mul_pd(_mm256_loadu_pd(v + N * j), _mm256_broadcast_sd(w + j)));
    return b;
}

// fold_row() for three or four samples, four pixels per round so that their
// bytes are packed and stored together.
template <int N, int T>
AVX2_CODE void fold_row_avx2(const geometry &g, const double *a, const column_plan &plan, JSAMPLE *out)
{
    const size_t terms = T > 0 ? T : plan.terms;
    const double *w = plan.weights;
    const uint32_t *first = plan.first;
    size_t p = 0;
    for (; p + 4 <= g.wd; p += 4, out += 4 * N, w += 4 * terms) {
        __m128i i[4];
        for (int k = 0; k < 4; ++k)
            i[k] = _mm256_cvttpd_epi32(
                fold_pixel<N, T>(a + static_cast<size_t>(first[p + k]) * N, w + k * terms, terms));
        // Sixteen bytes, four per pixel; values lie in 0..255.
        __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(i[0], i[1]), _mm_packs_epi32(i[2], i[3]));
        if constexpr (N == 3) {
            bytes = _mm_shuffle_epi8(bytes, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out), bytes);
            const uint32_t rest = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 8)));
            std::memcpy(out + 8, &rest, 4);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), bytes);
        }
    }
    for (; p < g.wd; ++p, out += N, w += terms) {
        const __m128i i = _mm256_cvttpd_epi32(
            fold_pixel<N, T>(a + static_cast<size_t>(first[p]) * N, w, terms));
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(i, i), i);
        const uint32_t four = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
        std::memcpy(out, &four, N);
    }
}

#endif

// The fold for N samples with its list length fixed where it is short.
template <int N, template <int, int> class Fold>
fold_fn fold_with_terms(size_t terms)
{
    switch (terms) {
    case 1: return Fold<N, 1>::run;
    case 2: return Fold<N, 2>::run;
    case 3: return Fold<N, 3>::run;
    case 4: return Fold<N, 4>::run;
    case 5: return Fold<N, 5>::run;
    case 6: return Fold<N, 6>::run;
    case 7: return Fold<N, 7>::run;
    case 8: return Fold<N, 8>::run;
    case 9: return Fold<N, 9>::run;
    case 10: return Fold<N, 10>::run;
    default: return Fold<N, 0>::run;
    }
}

template <int N, int T>
struct baseline_fold {
    static constexpr fold_fn run = fold_row<N, T>;
};

#ifdef VISTREL_AVX2
template <int N, int T>
struct avx2_fold {
    static constexpr fold_fn run = fold_row_avx2<N, T>;
};
#endif

fold_fn fold_for(size_t n, size_t terms, bool wide)
{
#ifdef VISTREL_AVX2
    if (wide && n == 3) return fold_with_terms<3, avx2_fold>(terms);
    if (wide && n == 4) return fold_with_terms<4, avx2_fold>(terms);
#endif
    (void)wide;
    switch (n) {
    case 1: return fold_with_terms<1, baseline_fold>(terms);
    case 2: return fold_with_terms<2, baseline_fold>(terms);
    case 3: return fold_with_terms<3, baseline_fold>(terms);
    case 4: return fold_with_terms<4, baseline_fold>(terms);
    default: return fold_row<0, 0>;
    }
}

}  // namespace

int resize_area(const jpeg_decompress_struct &src_info, const jpeg_compress_struct &dst_info,
                const JSAMPLE *src, JSAMPLE **dst_ptr)
{
    geometry g;
    switch (start_resample(src_info, dst_info, src, dst_ptr, g)) {
    case resample_start::failed: return -1;
    case resample_start::finished: return 0;
    case resample_start::go: break;
    }
    JSAMPLE *const dst = *dst_ptr;

    const double s = static_cast<double>(g.wd) / static_cast<double>(g.ws);
    column_plan plan;
    measure_columns(g, s, plan);

    // Working storage in one block: the accumulator with zero padding for
    // the padded column lists (and one more value that the four-lane fold of
    // three-sample pixels reads), the column weights, the byte table and the
    // first columns.
    size_t a_count, w_count, doubles, bytes, first_bytes;
    if (!multiply(plan.reach + 1, g.n, &a_count) || !add(a_count, g.ls + 1, &a_count) ||
        !multiply(g.wd, plan.terms, &w_count) || !add(a_count, w_count, &doubles) ||
        !add(doubles, 256, &doubles) || !multiply(doubles, sizeof(double), &bytes) ||
        !multiply(g.wd, sizeof(uint32_t), &first_bytes) || !add(bytes, first_bytes, &bytes)) {
        errno = ENOMEM;
        return -1;
    }
    void *storage = std::malloc(bytes);
    if (storage == nullptr) return -1;  // errno from malloc
    double *const a = static_cast<double *>(storage);
    plan.weights = a + a_count;
    double *const table = plan.weights + w_count;
    plan.first = reinterpret_cast<uint32_t *>(table + 256);
    for (size_t k = g.ls; k < a_count; ++k) a[k] = 0.0;
    fill_columns(g, s, plan);

    const bool wide = resample_avx2_active();
    const fold_fn fold = fold_for(g.n, plan.terms, wide);

    vertical_state st{s, true, 0, 0};
    row_step recipe[max_recipe];
    row_step previous[max_recipe];
    size_t previous_count = 0;  // 0: no whole recipe to compare with

    for (size_t y = 0; y < g.hd; ++y) {
        JSAMPLE *const out = dst + y * g.ld;
        // Past the last source row every step reads it again; with rows long
        // enough a table of the 256 possible results is cheaper.
        const bool by_table = st.t == g.hs && g.ls > 256;
        const JSAMPLE *const last_row = src + (g.hs - 1) * g.ls;

        size_t count = 0;
        bool spilled = false;  // part of the recipe is applied already
        bool started = false;
        vertical_pass(st, s, g.hs, [&](size_t row, double w) {
            if (count == max_recipe) {
                if (by_table)
                    apply_steps_to_table(table, recipe, count, started);
                else
                    apply_steps(wide, a, g.ls, recipe, count, started);
                count = 0;
                spilled = true;
            }
            recipe[count++] = row_step{src + row * g.ls, w};
        });

        if (!spilled && count == previous_count && same_steps(recipe, previous, count)) {
            std::memcpy(out, out - g.ld, g.ld);
            continue;
        }
        if (by_table) {
            apply_steps_to_table(table, recipe, count, started);
            for (size_t k = 0; k < g.ls; ++k) a[k] = table[last_row[k]];
        } else {
            apply_steps(wide, a, g.ls, recipe, count, started);
        }
        if (spilled) {
            previous_count = 0;
        } else {
            std::memcpy(previous, recipe, count * sizeof(row_step));
            previous_count = count;
        }

        fold(g, a, plan, out);
    }

    std::free(storage);
    return 0;
}
