#include "support/screen_pixels.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "support/temp_dir.h"

decoded_jpeg screen_pixels(devtools_page &page, const css_rect &clip)
{
    screenshot_request request;
    request.format = screenshot_request::image_format::jpeg;
    request.quality = 100;
    request.clip_set = true;
    request.clip = {std::round(clip.x), std::round(clip.y), std::round(clip.width),
                    std::round(clip.height)};
    temp_dir scratch;
    const std::string path = scratch.file("shot.jpg");
    write_file(path, page.screenshot(request));
    return decode_jpeg(path);
}

decoded_jpeg crop(const decoded_jpeg &capture, const css_rect &captured, const css_rect &part)
{
    const long x = std::lround(part.x - std::round(captured.x));
    const long y = std::lround(part.y - std::round(captured.y));
    const long width = std::lround(part.width);
    const long height = std::lround(part.height);
    if (x < 0 || y < 0 || width < 0 || height < 0 || x + width > capture.width ||
        y + height > capture.height)
        throw std::invalid_argument("crop: the part lies outside the capture");
    decoded_jpeg out;
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.components = capture.components;
    const size_t n = static_cast<size_t>(capture.components);
    for (long row = y; row < y + height; ++row) {
        const auto begin = capture.pixels.begin() +
                           static_cast<long>((size_t(row) * size_t(capture.width) + size_t(x)) * n);
        out.pixels.insert(out.pixels.end(), begin, begin + static_cast<long>(size_t(width) * n));
    }
    return out;
}

double mean_difference(const decoded_jpeg &a, const decoded_jpeg &b)
{
    if (a.width != b.width || a.height != b.height || a.components != b.components)
        throw std::invalid_argument("mean_difference: " + std::to_string(a.width) + "x" +
                                    std::to_string(a.height) + " against " +
                                    std::to_string(b.width) + "x" + std::to_string(b.height));
    if (a.pixels.empty()) return 0;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        sum += static_cast<uint64_t>(std::abs(a.pixels[i] - b.pixels[i]));
    return static_cast<double>(sum) / static_cast<double>(a.pixels.size());
}
