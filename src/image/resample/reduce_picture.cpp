#include "image/resample/reduce_picture.h"

#include <cassert>
#include <memory>
#include <new>

#include "image/messages.h"

namespace {

// Sums of up to 8 × 8 samples fit 16 bits (64 × 255).
using sample_sum = uint16_t;

// The rounded mean of `area` samples summing to `total`.
inline uint8_t mean(unsigned total, unsigned area)
{
    return static_cast<uint8_t>((total + area / 2) / area);
}

// The rounded means of one new row from `sums`, the column sums of `rows`
// old rows: `width` old pixels of `components` samples, `factor` of them to
// each new pixel. C and F fix the components and the factor for the common
// pictures, so that the passes over the row vectorise and a whole block's
// division is a shift; 0 takes them from the arguments.
template <int C, unsigned F>
void fold_columns(sample_sum *sums, uint32_t width, unsigned rows, int components, unsigned factor,
                  uint8_t *out)
{
    const size_t samples = C != 0 ? C : static_cast<size_t>(components);
    const unsigned per = F != 0 ? F : factor;
    const uint32_t whole = width / per;
    const size_t span = size_t{whole} * per * samples;
    // Each block's sums gathered into its first pixel, a pass per doubling:
    // every pass adds the samples `reach` ahead, not yet changed, so it runs
    // forward in place. Another factor adds its columns one by one.
    if ((per & (per - 1)) == 0) {
        for (size_t reach = samples; reach < per * samples; reach *= 2)
            for (size_t i = 0; i + reach < span; ++i)
                sums[i] = static_cast<sample_sum>(sums[i] + sums[i + reach]);
    } else {
        for (size_t i = 0; i < span; i += per * samples)
            for (unsigned j = 1; j < per; ++j)
                for (size_t c = 0; c < samples; ++c)
                    sums[i + c] = static_cast<sample_sum>(sums[i + c] + sums[i + j * samples + c]);
    }
    // Whole rows, the usual case, divide by the constant per × per: a shift.
    const auto means = [&](unsigned area) {
        for (uint32_t x = 0; x < whole; ++x)
            for (size_t c = 0; c < samples; ++c)
                out[x * samples + c] = mean(sums[x * per * samples + c], area);
    };
    if (rows == per)
        means(per * per);
    else
        means(rows * per);
    const unsigned left = width - whole * per;
    if (left == 0) return;
    const sample_sum *from = sums + span;
    for (size_t c = 0; c < samples; ++c) {
        unsigned total = 0;
        for (unsigned j = 0; j < left; ++j) total += from[j * samples + c];
        out[whole * samples + c] = mean(total, rows * left);
    }
}

using fold_fn = void (*)(sample_sum *, uint32_t, unsigned, int, unsigned, uint8_t *);

template <int C>
fold_fn fold_for(unsigned factor)
{
    switch (factor) {
    case 2: return fold_columns<C, 2>;
    case 4: return fold_columns<C, 4>;
    case 8: return fold_columns<C, 8>;
    default: return fold_columns<C, 0>;
    }
}

fold_fn fold_for(int components, unsigned factor)
{
    switch (components) {
    case 1: return fold_for<1>(factor);
    case 3: return fold_for<3>(factor);
    case 4: return fold_for<4>(factor);
    default: return fold_columns<0, 0>;
    }
}

}  // namespace

outcome reduce_picture(picture &image, unsigned factor)
{
    assert(factor >= 1 && factor <= 8);
    if (factor <= 1 || image.width == 0 || image.height == 0) return {};
    const fold_fn fold = fold_for(image.components, factor);
    const size_t old_row = image.row_size();
    const uint32_t width = (image.width + factor - 1) / factor;
    const uint32_t height = (image.height + factor - 1) / factor;
    const size_t new_row = size_t{width} * static_cast<size_t>(image.components);
    std::unique_ptr<sample_sum[]> sums(new (std::nothrow) sample_sum[old_row]);
    if (!sums) return message::cant_malloc();
    uint8_t *const samples = image.pixels.samples.get();
    // In place: new row y goes over old rows before y × factor, all of them
    // already read.
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t first = y * factor;
        const unsigned rows = image.height - first < factor ? image.height - first : factor;
        const uint8_t *row = samples + size_t{first} * old_row;
        for (size_t i = 0; i < old_row; ++i) sums[i] = row[i];
        for (unsigned r = 1; r < rows; ++r) {
            row += old_row;
            for (size_t i = 0; i < old_row; ++i)
                sums[i] = static_cast<sample_sum>(sums[i] + row[i]);
        }
        fold(sums.get(), image.width, rows, image.components, factor,
             samples + size_t{y} * new_row);
    }
    image.width = width;
    image.height = height;
    return {};
}
