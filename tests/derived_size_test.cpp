// The sizes of the derived images for dense and big screens: a multiple of
// the image they multiply, never larger than the photograph.
#include <gtest/gtest.h>

#include "image/derived_size.h"

namespace {

TEST(derived_size, multiples_never_larger_than_the_photograph)
{
    const struct {
        const char *what;
        int32_t photo_width, photo_height, base_width, base_height, factor;
        int64_t width, height;
    } cases[] = {
        {"a camera's photograph: the multiple", 4000, 3000, 640, 480, 3, 1920, 1440},
        {"twice", 4000, 3000, 640, 480, 2, 1280, 960},
        {"exactly the photograph's size", 1280, 960, 640, 480, 2, 1280, 960},
        {"between twice and three times: its own size", 1600, 1200, 640, 480, 3, 1600, 1200},
        {"smaller than the base, which is enlarged", 300, 400, 360, 480, 2, 300, 400},
        {"one pixel wide: a width of 2 is wider", 1, 961, 1, 480, 2, 1, 961},
        // 480 x 1281 / 960 rounds up to 641: twice that is one pixel too wide.
        {"twice the height, but a width rounded up past the photograph's", 1281, 960, 641, 480, 2,
         1281, 960},
        {"the largest multiple JPEG can hold", 65500, 65500, 21833, 21833, 3, 65499, 65499},
        {"beyond what JPEG holds, left to the caller", 100000, 100000, 30000, 30000, 3, 90000,
         90000},
        {"no overflow of 32 bits", 65500, 65500, 65500, 65500, 3, 65500, 65500},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const multiplied_size got =
            multiply_size(c.photo_width, c.photo_height, c.base_width, c.base_height, c.factor);
        EXPECT_EQ(got.width, c.width);
        EXPECT_EQ(got.height, c.height);
    }
}

}  // namespace
