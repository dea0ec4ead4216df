// The vector-lane toolkit of the resamplers: lanes of doubles in GCC vector
// types, loads and stores, the conversions between bytes and doubles, and the
// kernels compiled once per instruction set. Internal to the image subsystem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "image/resample/resample.h"  // uint8_t, and the switch between instruction sets

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VISTREL_AVX2 1
#define AVX2_CODE __attribute__((target("avx2")))
#endif

// Lanes of doubles. Two are native on every x86-64 (SSE2) and on AArch64,
// four with AVX2; one lane is plain scalar code, for the pixels of one
// sample. Each kernel of the resamplers is written once over its lane type;
// its loops over a fixed number of vectors are unrolled (#pragma GCC unroll)
// so that the lanes stay in registers.
using vec1 = double __attribute__((vector_size(8)));
using vec2 = double __attribute__((vector_size(16)));
using vec4 = double __attribute__((vector_size(32)));

template <class V>
constexpr int lanes = static_cast<int>(sizeof(V) / sizeof(double));

// Bytes in vector lanes. (An alias template would drop a vector_size that
// depends on its parameter, hence the two.)
using bytes8 = uint8_t __attribute__((vector_size(8)));
using bytes16 = uint8_t __attribute__((vector_size(16)));
template <int M>
using byte_vector = std::conditional_t<M == 8, bytes8, bytes16>;

// Lanes from and to doubles anywhere in memory, read as the intrinsics read
// them: the type may alias doubles and need not be aligned. The lanes go in
// and out by reference, as everywhere in the kernels: four lanes passed by
// value would be passed differently with and without AVX.
template <class V>
inline void load(V &v, const double *p)
{
    typedef V unaligned __attribute__((aligned(alignof(double)), may_alias));
    v = *reinterpret_cast<const unaligned *>(p);
}

template <class V>
inline void store(double *p, const V &v)
{
    typedef V unaligned __attribute__((aligned(alignof(double)), may_alias));
    *reinterpret_cast<unaligned *>(p) = v;
}

// Calls f.template operator()<C>() with C equal to count when count is one of
// 1..Max, and says whether it did: a short count known only at run time
// becomes a constant, for loops that the compiler unrolls.
template <int Max, class F>
inline bool with_count(size_t count, F &&f)
{
    // The formatter mistakes the template lambda for something else.
    // clang-format off
    return [&]<int... I>(std::integer_sequence<int, I...>) {
        return ((count == I + 1 ? (f.template operator()<I + 1>(), true) : false) || ...);
    }(std::make_integer_sequence<int, Max>{});
    // clang-format on
}

// The conversions between bytes and doubles, M values at a time in M / lanes
// vectors; values converted to bytes lie in 0..255 and are truncated toward
// zero. The compiler would convert them a lane at a time, so these are
// written in each instruction set's own instructions.

template <int M>
inline void bytes_to_doubles(const uint8_t *p, vec2 (&out)[M / 2])
{
    static_assert(M == 4 || M == 8);
#if defined(__SSE2__)
    __m128i b;
    if constexpr (M == 8) {
        b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
    } else {
        int32_t bits;
        std::memcpy(&bits, p, 4);
        b = _mm_cvtsi32_si128(bits);
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i b16 = _mm_unpacklo_epi8(b, zero);
    const __m128i b32[2] = {_mm_unpacklo_epi16(b16, zero), _mm_unpackhi_epi16(b16, zero)};
#pragma GCC unroll 4
    for (int i = 0; i < M / 2; ++i)
        out[i] = _mm_cvtepi32_pd(i % 2 == 0 ? b32[i / 2] : _mm_shuffle_epi32(b32[i / 2], 0xee));
#else
    for (int i = 0; i < M / 2; ++i)
        out[i] = vec2{static_cast<double>(p[2 * i]), static_cast<double>(p[2 * i + 1])};
#endif
}

template <int M>
inline byte_vector<M> doubles_to_bytes(const vec2 (&v)[M / 2])
{
    static_assert(M == 8 || M == 16);
    byte_vector<M> out = {};
#if defined(__SSE2__)
    __m128i w[M / 8];
#pragma GCC unroll 4
    for (int i = 0; i < M / 8; ++i) {
        const __m128i lo =
            _mm_unpacklo_epi64(_mm_cvttpd_epi32(v[4 * i]), _mm_cvttpd_epi32(v[4 * i + 1]));
        const __m128i hi =
            _mm_unpacklo_epi64(_mm_cvttpd_epi32(v[4 * i + 2]), _mm_cvttpd_epi32(v[4 * i + 3]));
        w[i] = _mm_packs_epi32(lo, hi);
    }
    const __m128i b = _mm_packus_epi16(w[0], w[M / 8 - 1]);
    std::memcpy(&out, &b, M);
#else
    for (int i = 0; i < M; ++i) out[i] = static_cast<uint8_t>(static_cast<int>(v[i / 2][i % 2]));
#endif
    return out;
}

#ifdef VISTREL_AVX2
template <int M>
inline AVX2_CODE void bytes_to_doubles(const uint8_t *p, vec4 (&out)[M / 4])
{
    static_assert(M == 4 || M == 8);
#pragma GCC unroll 4
    for (int i = 0; i < M / 4; ++i) {
        int32_t bits;
        std::memcpy(&bits, p + 4 * i, 4);
        out[i] = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(bits)));
    }
}

template <int M>
inline AVX2_CODE byte_vector<M> doubles_to_bytes(const vec4 (&v)[M / 4])
{
    static_assert(M == 8 || M == 16);
    __m128i w[M / 8];
#pragma GCC unroll 4
    for (int i = 0; i < M / 8; ++i)
        w[i] = _mm_packs_epi32(_mm256_cvttpd_epi32(v[2 * i]), _mm256_cvttpd_epi32(v[2 * i + 1]));
    const __m128i b = _mm_packus_epi16(w[0], w[M / 8 - 1]);
    byte_vector<M> out;
    std::memcpy(&out, &b, M);
    return out;
}
#endif

#ifdef VISTREL_AVX2
// A kernel inlined into a function compiled for AVX2: flatten inlines all
// that it calls, whatever the same templates compile to on their own. (An
// unoptimized build does not flatten: the kernel then runs as compiled on its
// own, slower but to the same bytes.)
template <auto kernel, class F = decltype(kernel)>
struct avx2_kernel;

template <auto kernel, class R, class... Args>
struct avx2_kernel<kernel, R (*)(Args...)> {
    [[gnu::flatten]] AVX2_CODE static R run(Args... args) { return kernel(args...); }
};
#endif

// A kernel written over lanes V as a function compiled for the instruction
// set of those lanes: the kernel itself for two, its AVX2 copy for four.
template <class V, auto kernel>
constexpr auto compiled = kernel;
#ifdef VISTREL_AVX2
// A partial specialization is a template, defined in every file that uses it
// like the primary one; the check takes it for a plain variable.
template <auto kernel>
// NOLINTNEXTLINE(misc-definitions-in-headers)
constexpr auto compiled<vec4, kernel> = &avx2_kernel<kernel>::run;
#endif

// Returns f.template operator()<V>() for the widest lanes allowed here: four
// (AVX2) where resample_avx2_active(), else two. The one place that chooses
// the instruction set.
template <class F>
inline auto with_widest_lanes(F &&f)
{
#ifdef VISTREL_AVX2
    if (resample_avx2_active()) return f.template operator()<vec4>();
#endif
    return f.template operator()<vec2>();
}
