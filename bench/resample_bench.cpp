// The two resamplers at the pipeline's sizes: a 4000 x 3000 photograph
// decoded at 1/4 is 1000 x 750, reduced to the 640 x 480 scaled image and
// the 128 x 96 thumbnail, three samples per pixel.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "image/resample/resample.h"

namespace {

constexpr uint32_t source_width = 1000, source_height = 750;
constexpr int samples = 3;

// Smooth gradients with noise, like a photograph: the arithmetic does not
// depend on the values, but a constant image could flatter a branch.
const std::vector<uint8_t> &source_pixels()
{
    static const std::vector<uint8_t> pixels = [] {
        std::vector<uint8_t> v(size_t{source_width} * source_height * samples);
        std::mt19937 rng(1);
        std::uniform_int_distribution<int> noise(-12, 12);
        size_t k = 0;
        for (uint32_t y = 0; y < source_height; ++y)
            for (uint32_t x = 0; x < source_width; ++x)
                for (int i = 0; i < samples; ++i) {
                    const int base = static_cast<int>((x * (i + 1) + y * (3 - i)) / 8 % 256);
                    const int value = base + noise(rng);
                    v[k++] = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
                }
        return v;
    }();
    return pixels;
}

void run(benchmark::State &state, resampler_fn fn, uint32_t width, uint32_t height,
         bool avx2 = true)
{
    set_resample_avx2(avx2);
    if (avx2 && !resample_avx2_active()) state.SetLabel("no AVX2 here: baseline code");
    const std::vector<uint8_t> &src = source_pixels();
    std::vector<uint8_t> dst(size_t{width} * height * samples);
    const pixel_view from{src.data(), source_width, source_height, samples,
                          size_t{source_width} * samples};
    const mutable_pixel_view to{dst.data(), width, height, samples, size_t{width} * samples};
    for (auto _ : state) {
        if (fn(from, to) != 0) state.SkipWithError("resampler failed");
        benchmark::DoNotOptimize(dst[0]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t{width} * height);
    set_resample_avx2(true);
}

void area_scaled(benchmark::State &state) { run(state, resize_area, 640, 480); }
void area_thumbnail(benchmark::State &state) { run(state, resize_area, 128, 96); }
void bilinear_scaled(benchmark::State &state) { run(state, resize_bilinear, 640, 480); }
void bilinear_thumbnail(benchmark::State &state) { run(state, resize_bilinear, 128, 96); }

// The same without AVX2, as on processors that lack it.
void area_scaled_baseline(benchmark::State &state) { run(state, resize_area, 640, 480, false); }
void area_thumbnail_baseline(benchmark::State &state) { run(state, resize_area, 128, 96, false); }
void bilinear_scaled_baseline(benchmark::State &state)
{
    run(state, resize_bilinear, 640, 480, false);
}
void bilinear_thumbnail_baseline(benchmark::State &state)
{
    run(state, resize_bilinear, 128, 96, false);
}

}  // namespace

BENCHMARK(area_scaled)->Unit(benchmark::kMicrosecond);
BENCHMARK(area_thumbnail)->Unit(benchmark::kMicrosecond);
BENCHMARK(bilinear_scaled)->Unit(benchmark::kMicrosecond);
BENCHMARK(bilinear_thumbnail)->Unit(benchmark::kMicrosecond);
BENCHMARK(area_scaled_baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(area_thumbnail_baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(bilinear_scaled_baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(bilinear_thumbnail_baseline)->Unit(benchmark::kMicrosecond);
