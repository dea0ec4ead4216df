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
//   baseline instruction set, four with AVX2 where the processor has it, the
//   same code compiled for each. Each lane does exactly the scalar sequence,
//   so both give the same bytes.
//
// The first addition into a cleared accumulator, 0.0 + v × w, is written as
// v × w: every product here is non-negative, and adding +0.0 to it changes
// nothing.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "image/resample/resample.h"
#include "image/resample/resample_geometry.h"
#include "image/resample/vector_lanes.h"

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
    const uint8_t *row;
    double weight;
};

// The vertical state that runs on from one destination row to the next.
struct vertical_state {
    double c;        // what the current source row still has to give
    bool f;          // the next step must move on to a new source row
    size_t t;        // source rows taken so far
    size_t current;  // the current source row
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

// a[k] = a[k] + row0[k] × w0 + row1[k] × w1 + ..., left to right, for R rows;
// with `fresh` the accumulator starts from the first product.
template <class V, int R, bool fresh>
void sweep(double *a, size_t ls, const row_step *steps)
{
    constexpr int L = lanes<V>, K = 8 / L;  // eight samples a round, in K vectors
    const uint8_t *rows[R];
    double w[R];
    for (int j = 0; j < R; ++j) {
        rows[j] = steps[j].row;
        w[j] = steps[j].weight;
    }
    size_t k = 0;
    // The fixed-count loops are unrolled so that the lanes stay in registers.
    for (; k + 8 <= ls; k += 8) {
        V acc[K], x[K];
        bytes_to_doubles<8>(rows[0] + k, x);
#pragma GCC unroll 4
        for (int i = 0; i < K; ++i) {
            if constexpr (fresh) {
                acc[i] = x[i] * w[0];
            } else {
                load(acc[i], a + k + L * i);
                acc[i] = acc[i] + x[i] * w[0];
            }
        }
#pragma GCC unroll 8
        for (int j = 1; j < R; ++j) {
            bytes_to_doubles<8>(rows[j] + k, x);
#pragma GCC unroll 4
            for (int i = 0; i < K; ++i) acc[i] = acc[i] + x[i] * w[j];
        }
#pragma GCC unroll 4
        for (int i = 0; i < K; ++i) store(a + k + L * i, acc[i]);
    }
    for (; k < ls; ++k) {
        double v = fresh ? rows[0][k] * steps[0].weight : a[k] + rows[0][k] * steps[0].weight;
        for (int j = 1; j < R; ++j) v = v + rows[j][k] * steps[j].weight;
        a[k] = v;
    }
}

// Applies steps to the accumulator, up to twice as many rows per sweep as
// there are lanes: four on the baseline and eight with AVX2 (registers
// allowing).
template <class V>
void apply_steps(double *a, size_t ls, const row_step *steps, size_t count, bool &started)
{
    constexpr size_t most = 2 * lanes<V>;
    while (count > 0) {
        const size_t m = count < most ? count : most;
        with_count<most>(m, [&]<int R>() {
            if (started)
                compiled<V, sweep<V, R, false>>(a, ls, steps);
            else
                compiled<V, sweep<V, R, true>>(a, ls, steps);
        });
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

inline void store_bytes(uint8_t *out, const double *v, size_t n)
{
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(static_cast<int>(v[i]));
}

// The lanes that hold one pixel's samples: the fewest that do, up to V's.
// With three samples the fourth lane reads the next pixel's first sample (or
// the accumulator's zero padding) and is never stored.
template <class V, int N>
using pixel_lanes = std::conditional_t<N == 1, vec1, std::conditional_t<N == 2, vec2, V>>;

// One pixel's sums, v[0] × w[0] + v[1] × w[1] + ... for each sample, in K
// vectors; T is the list length when known at compile time (0: `terms`).
template <int N, int T, class P, int K>
inline void fold_pixel(const double *v, const double *w, size_t terms, P (&b)[K])
{
    constexpr int L = lanes<P>;
#pragma GCC unroll 4
    for (int i = 0; i < K; ++i) {
        load(b[i], v + L * i);
        b[i] = b[i] * w[0];
    }
    const size_t count = T > 0 ? T : terms;
#pragma GCC unroll 16
    for (size_t j = 1; j < count; ++j) {
#pragma GCC unroll 4
        for (int i = 0; i < K; ++i) {
            P x;
            load(x, v + N * j + L * i);
            b[i] = b[i] + x * w[j];
        }
    }
}

// Folds the accumulator row into destination pixels and converts them.
// N is the number of samples per pixel, 0 for "any" (read from g.n).
// T is the list length when known at compile time (0: plan.terms).
template <class V, int N, int T>
void fold_row(const geometry &g, const double *a, const column_plan &plan, uint8_t *out)
{
    const size_t terms = T > 0 ? T : plan.terms;
    const double *w = plan.weights;
    const uint32_t *const first = plan.first;  // read once: the byte stores could alias plan
    if constexpr (N == 0) {
        const size_t n = g.n;
        for (size_t p = 0; p < g.wd; ++p, out += n, w += terms) {
            const double *v = a + static_cast<size_t>(first[p]) * n;
            double b[16];
            for (size_t off = 0; off < n; off += 16) {
                const size_t m = n - off < 16 ? n - off : 16;
                for (size_t i = 0; i < m; ++i) b[i] = v[off + i] * w[0];
                for (size_t j = 1; j < terms; ++j)
                    for (size_t i = 0; i < m; ++i) b[i] = b[i] + v[n * j + off + i] * w[j];
                store_bytes(out + off, b, m);
            }
        }
    } else {
        using P = pixel_lanes<V, N>;
        constexpr int L = lanes<P>, K = (N + L - 1) / L;
        size_t p = 0;
        // A pixel in four lanes: four pixels make sixteen bytes, packed and
        // stored together.
        if constexpr (L == 4) {
            for (; p + 4 <= g.wd; p += 4, out += 4 * N, w += 4 * terms) {
                P b[4][1];
#pragma GCC unroll 4
                for (size_t q = 0; q < 4; ++q)
                    fold_pixel<N, T>(a + static_cast<size_t>(first[p + q]) * N, w + q * terms,
                                     terms, b[q]);
                const P sums[4] = {b[0][0], b[1][0], b[2][0], b[3][0]};
                const byte_vector<16> four = doubles_to_bytes<16>(sums);
                if constexpr (N == 3) {  // every fourth byte left out
                    const bytes8 head = __builtin_shufflevector(four, four, 0, 1, 2, 4, 5, 6, 8, 9);
                    const bytes8 tail =
                        __builtin_shufflevector(four, four, 10, 12, 13, 14, 3, 7, 11, 15);
                    std::memcpy(out, &head, 8);
                    std::memcpy(out + 8, &tail, 4);
                } else {
                    std::memcpy(out, &four, 16);
                }
            }
        }
        for (; p < g.wd; ++p, out += N, w += terms) {
            P b[K];
            fold_pixel<N, T>(a + static_cast<size_t>(first[p]) * N, w, terms, b);
            for (int i = 0; i < N; ++i)
                out[i] = static_cast<uint8_t>(static_cast<int>(b[i / L][i % L]));
        }
    }
}

using fold_fn = void (*)(const geometry &, const double *, const column_plan &, uint8_t *);

// The fold for the samples per pixel and the list length, both fixed where
// they are small.
template <class V>
fold_fn fold_for(size_t n, size_t terms)
{
    fold_fn fold = compiled<V, fold_row<V, 0, 0>>;
    with_count<4>(n, [&]<int N>() {
        fold = compiled<V, fold_row<V, N, 0>>;
        with_count<10>(terms, [&]<int T>() { fold = compiled<V, fold_row<V, N, T>>; });
    });
    return fold;
}

// Everything after the checks, with the kernels for lanes V.
template <class V>
int area(const geometry &g, const uint8_t *src, uint8_t *dst)
{
    const double s = static_cast<double>(g.wd) / static_cast<double>(g.ws);
    column_plan plan;
    measure_columns(g, s, plan);

    // Working storage in one block: the accumulator with zero padding for
    // the padded column lists (and one more value that the fourth lane of a
    // three-sample pixel reads), the column weights, the byte table and the
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
    const fold_fn fold = fold_for<V>(g.n, plan.terms);

    vertical_state st{s, true, 0, 0};
    row_step recipe[max_recipe];
    row_step previous[max_recipe];
    size_t previous_count = 0;  // 0: no whole recipe to compare with

    for (size_t y = 0; y < g.hd; ++y) {
        uint8_t *const out = dst + y * g.sd;
        // Past the last source row every step reads it again; with rows long
        // enough a table of the 256 possible results is cheaper.
        const bool by_table = st.t == g.hs && g.ls > 256;
        const uint8_t *const last_row = src + (g.hs - 1) * g.ss;

        size_t count = 0;
        bool spilled = false;  // part of the recipe is applied already
        bool started = false;
        vertical_pass(st, s, g.hs, [&](size_t row, double w) {
            if (count == max_recipe) {
                if (by_table)
                    apply_steps_to_table(table, recipe, count, started);
                else
                    apply_steps<V>(a, g.ls, recipe, count, started);
                count = 0;
                spilled = true;
            }
            recipe[count++] = row_step{src + row * g.ss, w};
        });

        if (!spilled && count == previous_count && same_steps(recipe, previous, count)) {
            std::memcpy(out, out - g.sd, g.ld);
            continue;
        }
        if (by_table) {
            apply_steps_to_table(table, recipe, count, started);
            for (size_t k = 0; k < g.ls; ++k) a[k] = table[last_row[k]];
        } else {
            apply_steps<V>(a, g.ls, recipe, count, started);
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

}  // namespace

int resize_area(const pixel_view &src, const mutable_pixel_view &dst)
{
    return run_resampler(src, dst,
                         []<class V>(const geometry &g, const uint8_t *from, uint8_t *to) {
                             return area<V>(g, from, to);
                         });
}
