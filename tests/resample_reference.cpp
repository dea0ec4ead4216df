#include "resample_reference.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

struct geometry {
    uint64_t n, ws, hs, wd, hd, ls, ld, ss, sd;
};

geometry geometry_of(const pixel_view &src, const mutable_pixel_view &dst)
{
    geometry g;
    g.n = static_cast<uint64_t>(src.components);
    g.ws = src.width;
    g.hs = src.height;
    g.wd = dst.width;
    g.hd = dst.height;
    g.ls = g.ws * g.n;
    g.ld = g.wd * g.n;
    g.ss = src.stride;
    g.sd = dst.stride;
    return g;
}

// The source as doubles, every read checked against its Hs rows of Ls bytes.
struct source_pixels {
    const uint8_t *bytes;
    geometry g;

    double at(uint64_t row, uint64_t k) const
    {
        if (row >= g.hs || k >= g.ls) throw std::out_of_range("source read outside the pixel rows");
        return static_cast<double>(bytes[row * g.ss + k]);
    }
};

uint8_t to_byte(double value)
{
    if (!(value >= 0.0 && value < 256.0)) throw std::range_error("value does not fit a byte");
    return static_cast<uint8_t>(static_cast<int>(value));  // truncation toward zero
}

void copy_rows(const geometry &g, const uint8_t *src, uint8_t *dst)
{
    for (uint64_t y = 0; y < g.hd; ++y) {
        const uint64_t row = y < g.hs ? y : g.hs - 1;
        std::memcpy(dst + y * g.sd, src + row * g.ss, g.ls);
    }
}

// The area resampler's pixels, for a destination with some.
void area_pixels(const geometry &g, const source_pixels &source, uint8_t *dst)
{
    // a: one destination row's sum of weighted source rows, Ls values;
    // b: its destination pixels, with one spare pixel for the additions that
    // land past the last one.
    std::vector<double> a(g.ls);
    std::vector<double> b((g.wd + 1) * g.n);

    // s: the scale, destination pixels per source pixel. c: what the current
    // source row still has to give; f: the next step moves on to a new row;
    // t: the source rows taken so far.
    const double s = static_cast<double>(g.wd) / static_cast<double>(g.ws);
    double c = s;
    bool f = true;
    uint64_t t = 0;
    uint64_t current = 0;  // the current source row

    auto add_row = [&](double weight) {
        for (uint64_t k = 0; k < g.ls; ++k) a.at(k) = a.at(k) + source.at(current, k) * weight;
    };
    auto take_next = [&] {
        if (t < g.hs) {
            current = t;
            t = t + 1;
            f = false;
        } else {
            f = true;
        }
    };

    for (uint64_t y = 0; y < g.hd; ++y) {
        // Both sums start from zero for every destination row.
        for (double &v : a) v = 0.0;
        for (uint64_t k = 0; k < g.ld; ++k) b.at(k) = 0.0;

        // Vertical pass: source rows into a, each weighted by how much of
        // the destination row it covers, until the row is full (r: the room
        // left in it).
        double r;
        if (c < 1.0) {
            r = 1.0;
            for (;;) {
                if (f && t < g.hs) {  // on to the next row while there is one
                    current = t;
                    t = t + 1;
                }
                add_row(c);  // all that the row still has to give
                r = r - c;
                c = s;
                f = true;
                if (!(r > s)) break;  // the rest fits in less than one whole row
            }
            take_next();
        } else {
            r = 1.0;
            if (f) take_next();
        }
        add_row(r);
        c = c - r;
        if (c <= 0.0) {
            f = true;
            c = s;
        }

        // Horizontal pass: the columns of a into the pixels of b, each
        // weighted by how much of the pixel it covers (u: pixel p is full).
        uint64_t p = 0;
        double gap = 1.0;  // the room left in pixel p
        bool u = false;
        for (uint64_t x = 0; x < g.ws; ++x) {
            auto add = [&](double weight) {
                for (uint64_t i = 0; i < g.n; ++i)
                    b.at(p * g.n + i) = b.at(p * g.n + i) + a.at(x * g.n + i) * weight;
            };
            auto add_whole = [&] {
                for (uint64_t i = 0; i < g.n; ++i)
                    b.at(p * g.n + i) = b.at(p * g.n + i) + a.at(x * g.n + i);
            };
            if (s >= gap) {
                if (u) p = p + 1;
                add(gap);
                double h = s - gap;
                u = true;
                while (h >= 1.0) {
                    p = p + 1;
                    add_whole();
                    h = h - 1.0;
                }
                gap = 1.0;
                if (h > 0.0) {
                    p = p + 1;
                    add(h);
                    gap = 1.0 - h;
                    u = false;
                }
            } else {
                if (u) p = p + 1;
                add(s);
                gap = gap - s;
                u = false;
            }
        }

        // Each sum truncated toward zero into a byte.
        for (uint64_t k = 0; k < g.ld; ++k) dst[y * g.sd + k] = to_byte(b.at(k));
    }
}

// The bilinear resampler's pixels, for a destination with some.
void bilinear_pixels(const geometry &g, const source_pixels &source, uint8_t *dst)
{
    // q: source pixels per destination pixel, the same both ways.
    const double q = static_cast<double>(g.ws) / static_cast<double>(g.wd);
    const double last_row = static_cast<double>(g.hs - 1);
    const double last_column = static_cast<double>(g.ws - 1);

    for (uint64_t y = 0; y < g.hd; ++y) {
        for (uint64_t x = 0; x < g.wd; ++x) {
            // The rows around y × q, y0 and y1 (the last row past the end),
            // and their weights.
            const double fy = static_cast<double>(y) * q;
            const double iy = std::trunc(fy);
            const double dy = fy - iy;
            const double wy = 1.0 - dy;
            const uint64_t y0 = iy > last_row ? g.hs - 1 : static_cast<uint64_t>(iy);
            const uint64_t y1 = iy + 1.0 > last_row ? g.hs - 1 : static_cast<uint64_t>(iy) + 1;

            // The columns around x × q, x0 and x1, and their weights.
            const double fx = static_cast<double>(x) * q;
            const double ix = std::trunc(fx);
            const double dx = fx - ix;
            const double wx = 1.0 - dx;
            if (ix > last_column) throw std::out_of_range("column position past the source");
            const uint64_t x0 = static_cast<uint64_t>(ix);
            const uint64_t x1 = ix + 1.0 > last_column ? g.ws - 1 : x0 + 1;

            // Each sample: the two rows interpolated across, then between
            // them, and truncated toward zero into a byte.
            for (uint64_t i = 0; i < g.n; ++i) {
                const double top = source.at(y0, x0 * g.n + i) * wx +
                                   source.at(y0, x1 * g.n + i) * dx;
                const double bottom = source.at(y1, x0 * g.n + i) * wx +
                                      source.at(y1, x1 * g.n + i) * dx;
                const double value = top * wy + bottom * dy;
                dst[y * g.sd + x * g.n + i] = to_byte(value);
            }
        }
    }
}

// What both resamplers do around their pixels: no destination is a failure,
// errno untouched; equal widths copy the rows, the last one repeated past
// the source's end; a destination without pixels has nothing to compute
// (and no ratio).
int resample_with(const pixel_view &src_view, const mutable_pixel_view &dst_view,
                  void (*pixels)(const geometry &, const source_pixels &, uint8_t *))
{
    if (dst_view.samples == nullptr) return -1;
    const geometry g = geometry_of(src_view, dst_view);
    if (g.ws == g.wd) {
        copy_rows(g, src_view.samples, dst_view.samples);
        return 0;
    }
    if (g.wd == 0 || g.hd == 0) return 0;
    pixels(g, source_pixels{src_view.samples, g}, dst_view.samples);
    return 0;
}

}  // namespace

int reference_resize_area(const pixel_view &src_view, const mutable_pixel_view &dst_view)
{
    return resample_with(src_view, dst_view, area_pixels);
}

int reference_resize_bilinear(const pixel_view &src_view, const mutable_pixel_view &dst_view)
{
    return resample_with(src_view, dst_view, bilinear_pixels);
}
