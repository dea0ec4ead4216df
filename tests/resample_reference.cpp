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
    const JSAMPLE *bytes;
    geometry g;

    double at(uint64_t row, uint64_t k) const
    {
        if (row >= g.hs || k >= g.ls) throw std::out_of_range("source read outside the pixel rows");
        return static_cast<double>(bytes[row * g.ss + k]);
    }
};

JSAMPLE to_byte(double value)
{
    if (!(value >= 0.0 && value < 256.0)) throw std::range_error("value does not fit a byte");
    return static_cast<JSAMPLE>(static_cast<int>(value));  // truncation toward zero
}

void copy_rows(const geometry &g, const JSAMPLE *src, JSAMPLE *dst)
{
    for (uint64_t y = 0; y < g.hd; ++y) {
        const uint64_t row = y < g.hs ? y : g.hs - 1;
        std::memcpy(dst + y * g.sd, src + row * g.ss, g.ls);
    }
}

}  // namespace

int reference_resize_area(const pixel_view &src_view, const mutable_pixel_view &dst_view)
{
    // 1.
    if (dst_view.samples == nullptr) return -1;
    JSAMPLE *dst = dst_view.samples;
    const JSAMPLE *src = src_view.samples;
    const geometry g = geometry_of(src_view, dst_view);
    const source_pixels source{src, g};

    // 2.
    if (g.ws == g.wd) {
        copy_rows(g, src, dst);
        return 0;
    }
    // 3.
    if (g.wd == 0 || g.hd == 0) return 0;

    // 4.
    std::vector<double> a(g.ls);
    std::vector<double> b((g.wd + 1) * g.n);

    // 5.
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

    // 6.
    for (uint64_t y = 0; y < g.hd; ++y) {
        // 6.1
        for (double &v : a) v = 0.0;
        for (uint64_t k = 0; k < g.ld; ++k) b.at(k) = 0.0;

        // 6.2 vertical pass
        double r;
        if (c < 1.0) {
            r = 1.0;
            for (;;) {
                if (f && t < g.hs) {  // (i)
                    current = t;
                    t = t + 1;
                }
                add_row(c);  // (ii)
                r = r - c;   // (iii)
                c = s;
                f = true;
                if (!(r > s)) break;  // (iv)
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

        // 6.3 horizontal pass
        uint64_t p = 0;
        double gap = 1.0;  // g: the room left in pixel p
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

        // 6.4 conversion
        for (uint64_t k = 0; k < g.ld; ++k) dst[y * g.sd + k] = to_byte(b.at(k));
    }
    // 7.
    return 0;
}

int reference_resize_bilinear(const pixel_view &src_view, const mutable_pixel_view &dst_view)
{
    // 1.
    if (dst_view.samples == nullptr) return -1;
    JSAMPLE *dst = dst_view.samples;
    const JSAMPLE *src = src_view.samples;
    const geometry g = geometry_of(src_view, dst_view);
    const source_pixels source{src, g};

    // 2.
    if (g.ws == g.wd) {
        copy_rows(g, src, dst);
        return 0;
    }
    // A destination without columns has nothing to compute (and no ratio).
    if (g.wd == 0 || g.hd == 0) return 0;

    // 3.
    const double q = static_cast<double>(g.ws) / static_cast<double>(g.wd);
    const double last_row = static_cast<double>(g.hs - 1);
    const double last_column = static_cast<double>(g.ws - 1);

    // 4.
    for (uint64_t y = 0; y < g.hd; ++y) {
        for (uint64_t x = 0; x < g.wd; ++x) {
            // 4.1
            const double fy = static_cast<double>(y) * q;
            const double iy = std::trunc(fy);
            const double dy = fy - iy;
            const double wy = 1.0 - dy;
            const uint64_t y0 = iy > last_row ? g.hs - 1 : static_cast<uint64_t>(iy);
            const uint64_t y1 = iy + 1.0 > last_row ? g.hs - 1 : static_cast<uint64_t>(iy) + 1;

            // 4.2
            const double fx = static_cast<double>(x) * q;
            const double ix = std::trunc(fx);
            const double dx = fx - ix;
            const double wx = 1.0 - dx;
            if (ix > last_column) throw std::out_of_range("column position past the source");
            const uint64_t x0 = static_cast<uint64_t>(ix);
            const uint64_t x1 = ix + 1.0 > last_column ? g.ws - 1 : x0 + 1;

            // 4.3 and 4.4
            for (uint64_t i = 0; i < g.n; ++i) {
                const double top = source.at(y0, x0 * g.n + i) * wx + source.at(y0, x1 * g.n + i) * dx;
                const double bottom = source.at(y1, x0 * g.n + i) * wx + source.at(y1, x1 * g.n + i) * dx;
                const double value = top * wy + bottom * dy;
                dst[y * g.sd + x * g.n + i] = to_byte(value);
            }
        }
    }
    // 5.
    return 0;
}
