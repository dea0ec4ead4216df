// Photographs stored turned, with an EXIF orientation tag: everything
// vistrel makes shows them upright, at their upright size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/resample/resample.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

constexpr int upright_width = 120, upright_height = 80;

// Four quadrants of clearly different colours, so that any flip or turn
// moves colour where it does not belong.
std::vector<uint8_t> upright_picture()
{
    std::vector<uint8_t> pixels;
    for (int y = 0; y < upright_height; ++y)
        for (int x = 0; x < upright_width; ++x) {
            const bool right = x >= upright_width / 2, bottom = y >= upright_height / 2;
            const uint8_t shade = static_cast<uint8_t>(x / 4);
            if (!right && !bottom) pixels.insert(pixels.end(), {220, 40, uint8_t(40 + shade)});
            if (right && !bottom) pixels.insert(pixels.end(), {40, 220, shade});
            if (!right && bottom) pixels.insert(pixels.end(), {shade, 40, 220});
            if (right && bottom) pixels.insert(pixels.end(), {230, 230, uint8_t(200 + shade)});
        }
    return pixels;
}

// Where the stored picture's first row and first column appear when it is
// shown upright, as the EXIF standard lists them for each value.
struct orientation_case {
    uint16_t value;
    enum { top, bottom, left, right } row0;
    enum { left_edge, right_edge, top_edge, bottom_edge } column0;
};

const orientation_case orientations[] = {
    {1, orientation_case::top, orientation_case::left_edge},
    {2, orientation_case::top, orientation_case::right_edge},
    {3, orientation_case::bottom, orientation_case::right_edge},
    {4, orientation_case::bottom, orientation_case::left_edge},
    {5, orientation_case::left, orientation_case::top_edge},
    {6, orientation_case::right, orientation_case::top_edge},
    {7, orientation_case::right, orientation_case::bottom_edge},
    {8, orientation_case::left, orientation_case::bottom_edge},
};

// The stored picture that shows as the upright one under this orientation.
jpeg_recipe stored_recipe(const orientation_case &c)
{
    const bool sideways = c.row0 == orientation_case::left || c.row0 == orientation_case::right;
    const int sw = sideways ? upright_height : upright_width;
    const int sh = sideways ? upright_width : upright_height;
    const std::vector<uint8_t> upright = upright_picture();
    std::vector<uint8_t> stored(upright.size());
    for (int sy = 0; sy < sh; ++sy)
        for (int sx = 0; sx < sw; ++sx) {
            int x, y;
            if (!sideways) {
                y = c.row0 == orientation_case::top ? sy : upright_height - 1 - sy;
                x = c.column0 == orientation_case::left_edge ? sx : upright_width - 1 - sx;
            } else {
                x = c.row0 == orientation_case::left ? sy : upright_width - 1 - sy;
                y = c.column0 == orientation_case::top_edge ? sx : upright_height - 1 - sx;
            }
            for (int k = 0; k < 3; ++k)
                stored[(size_t(sy) * sw + sx) * 3 + k] =
                    upright[(size_t(y) * upright_width + x) * 3 + k];
        }
    return {.width = sw,
            .height = sh,
            .quality = 95,
            .exif = exif_recipe{.orientation = c.value},
            .pixels = stored};
}

// The upright picture reduced to a derived size, as a reference.
std::vector<uint8_t> upright_at(int width, int height)
{
    const std::vector<uint8_t> pixels = upright_picture();
    std::vector<uint8_t> out(size_t(width) * height * 3);
    EXPECT_EQ(
        resize_area({pixels.data(), upright_width, upright_height, 3, size_t{upright_width} * 3},
                    {out.data(), static_cast<uint32_t>(width), static_cast<uint32_t>(height), 3,
                     size_t(width) * 3}),
        0);
    return out;
}

double mean_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() != b.size() || a.empty()) return 255.0;
    int64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int{a[i]} - int{b[i]});
    return static_cast<double>(sum) / static_cast<double>(a.size());
}

std::string name_of(const orientation_case &c)
{
    std::string name = "o";
    name += static_cast<char>('0' + c.value);
    return name + ".jpg";
}

TEST(orientation, every_derived_image_is_upright_at_the_upright_size)
{
    temp_dir g;
    const std::string a = g.file("a");
    make_dir(a);
    for (const orientation_case &c : orientations)
        write_jpeg(a + "/" + name_of(c), stored_recipe(c));
    const run_result r = run_vistrel({"-2", "-b", g.path});
    ASSERT_EQ(r.status, 0) << r.err;

    // The upright 120 x 80 picture: 720 x 480 scaled, 144 x 96 thumbnail;
    // the doubles and the big image no larger than the upright photograph.
    const struct {
        const char *dir;
        int width, height;
    } derived[] = {{".scaled", 720, 480},
                   {".thumbs", 144, 96},
                   {".scaled2x", 120, 80},
                   {".thumbs2x", 120, 80},
                   {".big", 120, 80}};
    const std::string index = read_file(a + "/index.html");
    for (const orientation_case &c : orientations) {
        SCOPED_TRACE(name_of(c));
        for (const auto &d : derived) {
            SCOPED_TRACE(d.dir);
            const decoded_jpeg got = decode_jpeg(a + "/" + d.dir + "/" + name_of(c));
            ASSERT_EQ(got.width, d.width);
            ASSERT_EQ(got.height, d.height);
            // A rotated decode is not bit-identical to an upright one; a
            // wrong turn puts quadrants of other colours in place: 60 and more.
            EXPECT_LT(mean_difference(got.pixels, upright_at(d.width, d.height)), 6.0);
        }
        const std::string page = read_file(a + "/" + name_of(c) + ".html");
        EXPECT_NE(page.find("width=\"720\" height=\"480\""), std::string::npos);
        EXPECT_NE(page.find("Original size (120 x 80, "), std::string::npos);
        EXPECT_NE(index.find("alt=\"" + name_of(c) +
                             "\" width=\"144\" height=\"96\"></a><br>\n"
                             "<small>120 x 80, "),
                  std::string::npos);
    }
}

// Only 1 to 8 mean anything: other values, and a tag of the wrong type,
// leave the picture as stored.
TEST(orientation, unknown_values_mean_upright)
{
    temp_dir g;
    const std::string a = g.file("a");
    make_dir(a);
    for (const uint16_t value : {0, 9, 65535})
        write_jpeg(a + "/v" + std::to_string(int{value}) + ".jpg",
                   {.width = upright_width,
                    .height = upright_height,
                    .quality = 95,
                    .exif = exif_recipe{.orientation = value},
                    .pixels = upright_picture()});
    const run_result r = run_vistrel({g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const uint16_t value : {0, 9, 65535}) {
        const decoded_jpeg got =
            decode_jpeg(a + "/.thumbs/v" + std::to_string(int{value}) + ".jpg");
        EXPECT_EQ(got.width, 144);
        EXPECT_LT(mean_difference(got.pixels, upright_at(144, 96)), 6.0) << value;
    }
}

}  // namespace
