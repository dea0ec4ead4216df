// The two resamplers: exact bytes of known cases, the result contract, and a
// randomized comparison with a slow literal reading of the rules over many
// sizes and sample counts (run it under the sanitizers to prove that no size
// reads or writes outside the pixel rows).
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "image/resample/resample.h"
#include "resample_reference.h"

#if defined(__SANITIZE_ADDRESS__)
#define VISTREL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VISTREL_TEST_ASAN 1
#endif
#endif

namespace {

struct image {
    uint32_t width = 0, height = 0;
    int samples = 1;
    std::vector<uint8_t> bytes;  // exactly height rows of width × samples
};

image make_image(uint32_t width, uint32_t height, int samples, std::vector<uint8_t> bytes)
{
    return image{width, height, samples, std::move(bytes)};
}

image random_image(std::mt19937 &rng, uint32_t width, uint32_t height, int samples)
{
    image im{width, height, samples, std::vector<uint8_t>(size_t{width} * height * samples)};
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t &b : im.bytes) b = static_cast<uint8_t>(byte(rng));
    return im;
}

// The image's pixels, rows one after the other.
pixel_view view_of(const image &im)
{
    return {im.bytes.data(), im.width, im.height, im.samples, size_t{im.width} * im.samples};
}

struct outcome {
    int result = 0;
    std::vector<uint8_t> bytes;  // the destination's Hd × Ld bytes
    bool all_written = true;     // the same bytes whatever the buffer held before
    bool guard_intact = true;    // nothing written past Hd × Ld bytes
};

constexpr size_t guard = 64;

// Calls `fn` on a destination buffer filled with `fill`; the source buffer is
// exactly its size, so the sanitizer sees any read past it.
int call(resampler_fn fn, const image &src, uint32_t wd, uint32_t hd, std::vector<uint8_t> &buffer,
         uint8_t fill)
{
    buffer.assign(size_t{wd} * hd * src.samples + guard, fill);
    return fn(view_of(src), {buffer.data(), wd, hd, src.samples, size_t{wd} * src.samples});
}

outcome resample(resampler_fn fn, const image &src, uint32_t wd, uint32_t hd)
{
    const size_t size = size_t{wd} * hd * src.samples;
    std::vector<uint8_t> zeros, ones;
    outcome o;
    o.result = call(fn, src, wd, hd, zeros, 0x00);
    const int again = call(fn, src, wd, hd, ones, 0xff);
    EXPECT_EQ(again, o.result);
    o.bytes.assign(zeros.begin(), zeros.begin() + static_cast<std::ptrdiff_t>(size));
    for (size_t k = 0; k < size; ++k) o.all_written = o.all_written && zeros[k] == ones[k];
    for (size_t k = size; k < size + guard; ++k)
        o.guard_intact = o.guard_intact && zeros[k] == 0x00 && ones[k] == 0xff;
    return o;
}

// "" when equal, else where and how they first differ.
std::string difference(const std::vector<uint8_t> &got, const std::vector<uint8_t> &want)
{
    if (got.size() != want.size())
        return "size " + std::to_string(got.size()) + " != " + std::to_string(want.size());
    for (size_t k = 0; k < got.size(); ++k)
        if (got[k] != want[k])
            return "byte " + std::to_string(k) + ": " + std::to_string(got[k]) +
                   " != " + std::to_string(want[k]);
    return "";
}

// Runs `body` once with the AVX2 code and once with the baseline code (the
// same code twice where the processor has no AVX2), then restores the default.
template <class Body>
void on_each_instruction_set(Body &&body)
{
    for (bool avx2 : {true, false}) {
        set_resample_avx2(avx2);
        SCOPED_TRACE(resample_avx2_active() ? "AVX2" : "baseline");
        body();
    }
    set_resample_avx2(true);
}

struct resampler {
    const char *name;
    resampler_fn fn;
    resampler_fn reference;
};

const resampler area{"area", resize_area, reference_resize_area};
const resampler bilinear{"bilinear", resize_bilinear, reference_resize_bilinear};

// ---------------------------------------------------------------------------
// Known cases, byte for byte.

struct example {
    const char *name;
    const resampler *with;
    image src;
    uint32_t wd, hd;
    std::vector<uint8_t> want;
};

void PrintTo(const example &e, std::ostream *os) { *os << e.with->name << '_' << e.name; }

class known_case : public testing::TestWithParam<example> {};

TEST_P(known_case, gives_exact_bytes)
{
    const example &e = GetParam();
    on_each_instruction_set([&] {
        const outcome o = resample(e.with->fn, e.src, e.wd, e.hd);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.bytes, e.want);
        EXPECT_TRUE(o.all_written);
        EXPECT_TRUE(o.guard_intact);
    });
    // The reference reading agrees too, so the randomized comparison below
    // stands on the same ground as these bytes.
    EXPECT_EQ(resample(e.with->reference, e.src, e.wd, e.hd).bytes, e.want);
}

const image ramp3x3 = make_image(3, 3, 1, {10, 20, 30, 40, 50, 60, 70, 80, 90});
const image ramp5x1 = make_image(5, 1, 1, {0, 10, 20, 30, 40});
const image square2x2 = make_image(2, 2, 1, {0, 100, 100, 200});
const image red_blue = make_image(2, 1, 3, {255, 0, 0, 0, 0, 255});
const image cmyk_pair = make_image(2, 1, 4, {255, 0, 0, 10, 0, 0, 255, 250});
const image grey_pair = make_image(2, 1, 2, {40, 200, 100, 0});
const image colour3x2 =
    make_image(3, 2, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19});
const image colour3x3 = make_image(3, 3, 3, {1,  2,  3,  4,  5,  6,  7,  8,  9,  11, 12, 13, 14, 15,
                                             16, 17, 18, 19, 21, 22, 23, 24, 25, 26, 27, 28, 29});
const image one_row =
    make_image(12, 1, 1, {72, 84, 21, 251, 137, 68, 190, 225, 219, 218, 220, 131});
const image two_rows = make_image(4, 2, 1, {0, 40, 80, 120, 200, 200, 100, 100});
image uniform(uint32_t w, uint32_t h, int samples, uint8_t v)
{
    return make_image(w, h, samples, std::vector<uint8_t>(size_t{w} * h * samples, v));
}
std::vector<uint8_t> four_by_four()
{
    std::vector<uint8_t> v(16);
    for (size_t k = 0; k < v.size(); ++k) v[k] = static_cast<uint8_t>(10 * k);
    return v;
}

// Laid out by hand; the formatter leaves it so.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    resample, known_case,
    testing::Values(
        example{"three_to_two", &area, make_image(3, 1, 1, {10, 20, 30}), 2, 1, {13, 26}},
        example{"five_to_three", &area, ramp5x1, 3, 1, {4, 20, 36}},
        example{"square_3_to_2", &area, ramp3x3, 2, 2, {23, 36, 63, 76}},
        example{"enlarge_2_to_5", &area, square2x2, 5, 5,
                {0, 0, 50, 100, 100, 0, 0, 50, 100, 100, 50, 50, 100, 150, 150,
                 100, 100, 150, 200, 200, 100, 100, 150, 200, 200}},
        example{"colour", &area, red_blue, 1, 1, {127, 0, 127}},
        // Rounded weights that add up to just under 1 give one step less.
        example{"truncation_128", &area, uniform(3, 3, 1, 128), 2, 2, {128, 127, 128, 127}},
        example{"truncation_white_5", &area, uniform(5, 5, 1, 255), 2, 2, {255, 254, 255, 254}},
        example{"truncation_white_7", &area, uniform(7, 7, 1, 255), 1, 1, {254}},
        // One source row: the rows' weight sums round differently.
        example{"one_row_to_four", &area, one_row, 8, 4,
                {76, 42, 212, 91, 201, 221, 218, 160, 76, 42, 213, 91, 201, 221, 218, 160,
                 76, 42, 212, 91, 201, 221, 218, 160, 76, 42, 212, 91, 201, 221, 218, 160}},
        // s = 0.5: the source's two rows cover one destination row; the rest
        // are made from the last source row alone.
        example{"rows_run_out", &area, two_rows, 2, 5, {110, 100, 200, 100, 200, 100, 200, 100, 200, 100}},
        // Every sample is resampled, the fourth of CMYK and both of two.
        example{"cmyk", &area, cmyk_pair, 1, 1, {127, 0, 127, 130}},
        example{"two_samples", &area, grey_pair, 1, 1, {70, 100}},

        example{"square_3_to_2", &bilinear, ramp3x3, 2, 2, {10, 25, 55, 70}},
        example{"five_to_three", &bilinear, ramp5x1, 3, 1, {0, 16, 33}},
        example{"enlarge_2_to_5", &bilinear, square2x2, 5, 5,
                {0, 40, 80, 100, 100, 40, 80, 120, 140, 140, 80, 120, 160, 180, 180,
                 100, 140, 180, 200, 200, 100, 140, 180, 200, 200}},
        example{"colour", &bilinear, red_blue, 1, 1, {255, 0, 0}},
        // q = 2: even rows and columns, unchanged.
        example{"halve", &bilinear, make_image(4, 4, 1, four_by_four()), 2, 2, {0, 20, 80, 100}},
        // q = 1.5: column 1 is halfway between source pixels 1 and 2.
        example{"cmyk", &bilinear, make_image(3, 1, 4, {255, 0, 0, 10, 0, 0, 255, 250, 9, 9, 9, 9}), 2, 1,
                {255, 0, 0, 10, 4, 4, 132, 129}},
        example{"two_samples", &bilinear, make_image(3, 1, 2, {40, 200, 100, 0, 7, 7}), 2, 1, {40, 200, 53, 3}},

        // Equal widths copy rows: all of them, the last repeated, or the first.
        example{"same_size", &area, colour3x2, 3, 2,
                {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        example{"taller", &area, colour3x2, 3, 3,
                {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        example{"shorter", &area, colour3x3, 3, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        example{"same_size", &bilinear, colour3x2, 3, 2,
                {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        example{"taller", &bilinear, colour3x2, 3, 3,
                {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        example{"shorter", &bilinear, colour3x3, 3, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9}}),
    [](const testing::TestParamInfo<example> &test) {
        return std::string(test.param.with->name) + "_" + test.param.name;
    });
// clang-format on

// ---------------------------------------------------------------------------
// The result contract.

class contract : public testing::TestWithParam<const resampler *> {};

TEST_P(contract, null_destination_fails_without_touching_errno)
{
    const image src = ramp3x3;
    errno = EDOM;
    EXPECT_EQ(GetParam()->fn(view_of(src), {nullptr, 2, 2, src.samples, 2}), -1);
    EXPECT_EQ(errno, EDOM);
}

TEST_P(contract, empty_destination_writes_nothing)
{
    const image src = colour3x2;
    const struct {
        uint32_t wd, hd;
    } sizes[] = {{0, 5}, {4, 0}, {0, 0}, {3, 0}, {0, 1}};
    for (const auto &size : sizes) {
        SCOPED_TRACE(std::to_string(size.wd) + " x " + std::to_string(size.hd));
        std::vector<uint8_t> buffer;
        EXPECT_EQ(call(GetParam()->fn, src, size.wd, size.hd, buffer, 0x5a), 0);
        EXPECT_EQ(buffer, std::vector<uint8_t>(guard, 0x5a));
    }
}

// Outside the contract (libjpeg never hands these on), but refused cleanly
// rather than read out of bounds.
TEST_P(contract, malformed_geometry_is_refused)
{
    const image src = ramp3x3;
    const struct {
        uint32_t ws, hs;
        int samples;
    } bad[] = {{3, 3, 0}, {3, 3, -1}, {0, 3, 1}, {3, 0, 1}};
    for (const auto &b : bad) {
        SCOPED_TRACE(std::to_string(b.ws) + " x " + std::to_string(b.hs) + " x " +
                     std::to_string(b.samples));
        const size_t samples = b.samples > 0 ? static_cast<size_t>(b.samples) : 0;
        std::vector<uint8_t> buffer(64, 0x5a);
        errno = 0;
        EXPECT_EQ(GetParam()->fn({src.bytes.data(), b.ws, b.hs, b.samples, b.ws * samples},
                                 {buffer.data(), 3, 2, b.samples, 3 * samples}),
                  -1);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(buffer, std::vector<uint8_t>(64, 0x5a));
    }
}

// Views that do not fit together or whose rows would overlap.
TEST_P(contract, inconsistent_views_are_refused)
{
    const image src = colour3x2;  // 3 x 2, three samples
    const struct {
        const char *what;
        int dst_samples;
        size_t src_stride, dst_stride;
    } bad[] = {
        {"fewer samples in the destination", 1, 9, 2},
        {"more samples in the destination", 4, 9, 8},
        {"source rows overlap", 3, 8, 6},
        {"destination rows overlap", 3, 9, 5},
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.what);
        std::vector<uint8_t> buffer(64, 0x5a);
        errno = 0;
        EXPECT_EQ(GetParam()->fn({src.bytes.data(), 3, 2, 3, b.src_stride},
                                 {buffer.data(), 2, 3, b.dst_samples, b.dst_stride}),
                  -1);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(buffer, std::vector<uint8_t>(64, 0x5a));
    }
}

// Rows further apart than their length, in the source and the destination:
// the same bytes as rows packed together, and nothing written between rows.
TEST_P(contract, rows_apart_give_the_same_bytes)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255);
    const struct {
        uint32_t ws, hs;
        int samples;
        uint32_t wd, hd;
        size_t src_gap, dst_gap;
    } cases[] = {
        {97, 61, 3, 64, 48, 5, 3}, {40, 30, 1, 13, 10, 64, 1}, {13, 5, 4, 12, 5, 3, 16},
        {16, 12, 2, 40, 30, 7, 9}, {20, 9, 3, 20, 12, 1, 2},   {3, 3, 1100, 2, 2, 4, 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.ws) + "x" + std::to_string(c.hs) + "x" +
                     std::to_string(c.samples) + " -> " + std::to_string(c.wd) + "x" +
                     std::to_string(c.hd));
        const image packed = random_image(rng, c.ws, c.hs, c.samples);
        const size_t ls = size_t{c.ws} * c.samples, ld = size_t{c.wd} * c.samples;
        const size_t src_stride = ls + c.src_gap, dst_stride = ld + c.dst_gap;
        std::vector<uint8_t> apart(src_stride * c.hs);
        for (uint8_t &b : apart) b = static_cast<uint8_t>(byte(rng));
        for (size_t y = 0; y < c.hs; ++y)
            std::copy_n(packed.bytes.begin() + static_cast<std::ptrdiff_t>(y * ls), ls,
                        apart.begin() + static_cast<std::ptrdiff_t>(y * src_stride));
        on_each_instruction_set([&] {
            const outcome want = resample(GetParam()->fn, packed, c.wd, c.hd);
            std::vector<uint8_t> out(dst_stride * c.hd, 0x5a);
            ASSERT_EQ(GetParam()->fn({apart.data(), c.ws, c.hs, c.samples, src_stride},
                                     {out.data(), c.wd, c.hd, c.samples, dst_stride}),
                      0);
            std::vector<uint8_t> rows, gaps;
            for (size_t y = 0; y < c.hd; ++y) {
                rows.insert(rows.end(), out.begin() + static_cast<std::ptrdiff_t>(y * dst_stride),
                            out.begin() + static_cast<std::ptrdiff_t>(y * dst_stride + ld));
                gaps.insert(gaps.end(),
                            out.begin() + static_cast<std::ptrdiff_t>(y * dst_stride + ld),
                            out.begin() + static_cast<std::ptrdiff_t>((y + 1) * dst_stride));
            }
            EXPECT_EQ(difference(rows, want.bytes), "");
            EXPECT_EQ(gaps, std::vector<uint8_t>(gaps.size(), 0x5a));
        });
    }
}

INSTANTIATE_TEST_SUITE_P(resample, contract, testing::Values(&area, &bilinear),
                         [](const testing::TestParamInfo<const resampler *> &test) {
                             return std::string(test.param->name);
                         });

TEST(resample_storage, area_without_working_storage_fails_with_errno_and_writes_nothing)
{
#ifdef VISTREL_TEST_ASAN
    GTEST_SKIP() << "the sanitizer's allocator reserves address space of its own";
#else
    auto mapped_bytes = [] {
        std::ifstream statm("/proc/self/statm");
        size_t pages = 0;
        statm >> pages;
        return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
    };
    // A source row of 16 Mi samples needs working storage of several times
    // 128 MiB, more than the address space limit leaves.
    const image src = uniform(1u << 24, 1, 1, 7);
    std::vector<uint8_t> buffer(2 + guard, 0x5a);

    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old_limit), 0);
    rlimit tight = old_limit;
    const rlim_t wanted = mapped_bytes() + (64u << 20);
    if (tight.rlim_cur == RLIM_INFINITY || tight.rlim_cur > wanted) tight.rlim_cur = wanted;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    errno = 0;
    const int result = resize_area(view_of(src), {buffer.data(), 2, 1, 1, 2});
    const int saved_errno = errno;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &old_limit), 0);

    EXPECT_EQ(result, -1);
    EXPECT_EQ(saved_errno, ENOMEM);
    EXPECT_EQ(buffer, std::vector<uint8_t>(2 + guard, 0x5a));
#endif
}

// ---------------------------------------------------------------------------
// The randomized comparison with the literal reading.

struct geometry_case {
    uint32_t ws, hs;
    int samples;
    uint32_t wd, hd;
};

std::string describe(const resampler &r, const geometry_case &g)
{
    return std::string(r.name) + " " + std::to_string(g.ws) + "x" + std::to_string(g.hs) + "x" +
           std::to_string(g.samples) + " -> " + std::to_string(g.wd) + "x" + std::to_string(g.hd);
}

void expect_matches_reference(const resampler &r, const geometry_case &g, std::mt19937 &rng)
{
    SCOPED_TRACE(describe(r, g));
    const image src = random_image(rng, g.ws, g.hs, g.samples);
    const outcome want = resample(r.reference, src, g.wd, g.hd);
    ASSERT_EQ(want.result, 0);
    on_each_instruction_set([&] {
        const outcome got = resample(r.fn, src, g.wd, g.hd);
        EXPECT_EQ(got.result, 0);
        EXPECT_EQ(difference(got.bytes, want.bytes), "");
        EXPECT_TRUE(got.all_written);
        EXPECT_TRUE(got.guard_intact);
    });
}

// Sizes that stress the edges: single pixels, empty destinations, extreme
// ratios, near-equal widths, heights that run out early or are never used
// up, reductions long enough to need many rows per destination row, and the
// pipeline's own sizes.
// Laid out by hand; the formatter leaves it so.
// clang-format off
const geometry_case edge_cases[] = {
    {1, 1, 3, 1, 1},          {1, 1, 1, 2, 1},         {1, 1, 4, 7, 5},       {1, 1, 2, 300, 3},
    {2, 1, 3, 1, 1},          {1, 200, 1, 5, 3},       {200, 1, 4, 3, 7},     {300, 1, 1, 2, 40},
    {300, 2, 3, 1, 10},       {1000, 2, 1, 3, 12},     {2, 1000, 2, 1000, 2}, {3, 1, 3, 1000, 2},
    {7, 3, 3, 0, 5},          {7, 3, 3, 5, 0},         {1000, 1, 1, 999, 1},  {999, 1, 3, 1000, 2},
    {13, 5, 4, 12, 5},        {7, 7, 1, 3, 3},         {640, 1, 1, 641, 2},   {99, 300, 3, 158, 480},
    {97, 61, 3, 640, 480},    {5, 4, 3, 3, 2},         {2000, 3, 1, 1, 1},    {1, 3, 4, 2000, 3},
    {1000, 750, 3, 640, 480}, {1000, 750, 3, 128, 96},
    // More samples than any JPEG has, for the code that takes any number.
    {9, 4, 5, 4, 6},          {3, 5, 7, 8, 2},         {3, 2, 1100, 2, 3},    {2, 3, 1100, 5, 2},
};
// clang-format on

TEST(resample_random, edge_sizes_match_the_literal_reading)
{
    std::mt19937 rng(20240611);
    for (const resampler *r : {&area, &bilinear})
        for (const geometry_case &g : edge_cases) expect_matches_reference(*r, g, rng);
}

geometry_case random_geometry(std::mt19937 &rng)
{
    auto pick = [&](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    };
    geometry_case g;
    g.samples = static_cast<int>(pick(1, 4));
    g.ws = pick(1, 48);
    g.hs = pick(1, 48);
    switch (pick(0, 5)) {
    case 0:  // unrelated sizes
        g.wd = pick(0, 64);
        g.hd = pick(0, 64);
        break;
    case 1:  // the pipeline's way: height chosen, width from the aspect
        g.hd = pick(1, 64);
        g.wd = static_cast<uint32_t>(g.hd * (static_cast<double>(g.ws) / g.hs) + 0.5);
        break;
    case 2:  // whole ratios, both ways
        if (pick(0, 1) == 0) {
            g.wd = std::max<uint32_t>(1, g.ws / pick(1, 6));
        } else {
            g.wd = g.ws * pick(1, 5);
        }
        g.hd = pick(1, 64);
        break;
    case 3:  // near-equal widths
        g.wd = g.ws + pick(0, 2) - 1;
        g.hd = pick(0, 64);
        break;
    case 4:  // strong reduction of a wide source, rows running out
        g.ws = pick(100, 300);
        g.wd = pick(1, 4);
        g.hd = pick(1, 8);
        break;
    default:  // strong enlargement
        g.ws = pick(1, 6);
        g.wd = pick(50, 200);
        g.hd = pick(1, 60);
        break;
    }
    return g;
}

TEST(resample_random, random_sizes_and_bytes_match_the_literal_reading)
{
    std::mt19937 rng(77);
    for (int i = 0; i < 800; ++i) {
        const geometry_case g = random_geometry(rng);
        expect_matches_reference(area, g, rng);
        expect_matches_reference(bilinear, g, rng);
        if (testing::Test::HasFailure()) break;  // one report is enough
    }
}

// ---------------------------------------------------------------------------
// Properties that do not lean on the reference reading.

// Every sample of a pixel is resampled alike and on its own: an image of N
// samples per pixel gives what its N planes give one by one as greyscale.
// This is what keeps the colours of a CMYK image right.
TEST(resample_property, samples_resample_like_separate_planes)
{
    std::mt19937 rng(5);
    for (const resampler *r : {&area, &bilinear}) {
        for (int i = 0; i < 200; ++i) {
            geometry_case g = random_geometry(rng);
            g.samples = 2 + i % 3;
            SCOPED_TRACE(describe(*r, g));
            const image src = random_image(rng, g.ws, g.hs, g.samples);
            on_each_instruction_set([&] {
                const outcome whole = resample(r->fn, src, g.wd, g.hd);
                for (int plane = 0; plane < g.samples; ++plane) {
                    image one = make_image(g.ws, g.hs, 1, {});
                    for (size_t k = plane; k < src.bytes.size(); k += g.samples)
                        one.bytes.push_back(src.bytes[k]);
                    const outcome alone = resample(r->fn, one, g.wd, g.hd);
                    std::vector<uint8_t> picked;
                    for (size_t k = plane; k < whole.bytes.size(); k += g.samples)
                        picked.push_back(whole.bytes[k]);
                    EXPECT_EQ(difference(picked, alone.bytes), "") << "sample " << plane;
                }
            });
            if (testing::Test::HasFailure()) return;
        }
    }
}

// A picture resampled to its own size comes back byte for byte, at any
// size: the pipeline writes such a picture as it is, without resampling.
TEST(resample_property, own_size_gives_the_picture_back)
{
    std::mt19937 rng(9);
    for (const resampler *r : {&area, &bilinear})
        for (int i = 0; i < 100; ++i) {
            geometry_case g = random_geometry(rng);
            if (i % 4 == 0) g.ws = 1000 + static_cast<uint32_t>(rng() % 1000);
            g.wd = g.ws;
            g.hd = g.hs;
            SCOPED_TRACE(describe(*r, g));
            const image src = random_image(rng, g.ws, g.hs, g.samples);
            on_each_instruction_set([&] {
                EXPECT_EQ(difference(resample(r->fn, src, g.wd, g.hd).bytes, src.bytes), "");
            });
            if (testing::Test::HasFailure()) return;
        }
}

// A uniform source stays uniform, within the one step that truncation can
// take off, at the pipeline's sizes and at extreme ones.
TEST(resample_property, uniform_stays_uniform_within_one_step)
{
    const geometry_case sizes[] = {
        {1000, 750, 3, 640, 480}, {1000, 750, 3, 128, 96}, {99, 300, 3, 158, 480},
        {4000, 3, 4, 7, 5},       {3, 4000, 1, 5, 7},      {1, 1, 3, 640, 480},
    };
    for (const resampler *r : {&area, &bilinear}) {
        for (const geometry_case &g : sizes) {
            for (uint8_t v : {uint8_t{1}, uint8_t{255}}) {
                SCOPED_TRACE(describe(*r, g) + " value " + std::to_string(v));
                const image src = uniform(g.ws, g.hs, g.samples, v);
                on_each_instruction_set([&] {
                    const outcome o = resample(r->fn, src, g.wd, g.hd);
                    EXPECT_EQ(o.result, 0);
                    size_t outside = 0;
                    for (uint8_t b : o.bytes) outside += (b == v || b + 1 == v) ? 0 : 1;
                    EXPECT_EQ(outside, 0u);
                });
            }
        }
    }
}

}  // namespace
