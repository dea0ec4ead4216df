// -2: a scaled image and a thumbnail at twice the size of the normal ones,
// offered to high-density screens through srcset, kept like the others.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

struct album {
    temp_dir gallery;
    std::string dir = gallery.file("a");
    album() { make_dir(dir); }
    std::string file(const std::string &name) const { return dir + "/" + name; }
    run_result run(std::vector<std::string> options = {}) const
    {
        options.push_back(gallery.path);
        return run_vistrel(options);
    }
};

TEST(double_density, twice_the_size_of_the_normal_images)
{
    album a;
    const struct {
        const char *name;
        int width, height;
        int scaled_width, thumb_width;
    } cases[] = {
        {"landscape.jpg", 4000, 3000, 640, 128},
        {"portrait.jpg", 300, 400, 360, 72},  // enlarged
        {"needle.jpg", 1, 961, 1, 1},         // one pixel wide, two doubled
    };
    for (const auto &c : cases) write_jpeg(a.file(c.name), {.width = c.width, .height = c.height});
    const run_result r = a.run({"-2"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const struct {
            std::string dir;
            int width, height;
        } expected[] = {{".scaled", c.scaled_width, 480},
                        {".thumbs", c.thumb_width, 96},
                        {".scaled2x", 2 * c.scaled_width, 960},
                        {".thumbs2x", 2 * c.thumb_width, 192}};
        for (const auto &e : expected) {
            const decoded_jpeg got = decode_jpeg(a.file(e.dir + "/" + c.name));
            EXPECT_EQ(got.width, e.width) << e.dir;
            EXPECT_EQ(got.height, e.height) << e.dir;
            EXPECT_FALSE(file_exists(a.file(e.dir + "/" + c.name + ".tmp")));
        }
    }
}

TEST(double_density, pages_offer_the_double_images_right_after_src)
{
    album a;
    for (const char *name : {"a b.jpg", "c%d.jpg", "e.jpg"})
        write_jpeg(a.file(name), {.width = 40, .height = 30});
    ASSERT_EQ(a.run({"-2"}).status, 0);

    // Blanks end a URL inside srcset, so there they are encoded too.
    const std::string middle = read_file(a.file("c%d.jpg.html"));
    EXPECT_TRUE(contains(
        middle, "<img src=\".scaled/c%25d.jpg\" srcset=\".scaled2x/c%25d.jpg 2x\" border=\"0\" "
                "width=\"640\" height=\"480\""));
    EXPECT_TRUE(contains(
        middle, "<img src=\".thumbs/a b.jpg\" srcset=\".thumbs2x/a%20b.jpg 2x\" border=\"0\" "
                "width=\"128\" height=\"96\""));
    EXPECT_TRUE(
        contains(middle, "<img src=\".thumbs/e.jpg\" srcset=\".thumbs2x/e.jpg 2x\" border=\"0\""));
    const std::string index = read_file(a.file("index.html"));
    EXPECT_TRUE(contains(index, "<a href=\"a b.jpg.html\"><img src=\".thumbs/a b.jpg\" "
                                "srcset=\".thumbs2x/a%20b.jpg 2x\" border=\"0\" alt=\"a b.jpg\" "
                                "width=\"128\" height=\"96\"></a>"));

    // Without -2, the pages are as they always were and no 2x file is made.
    album plain;
    write_jpeg(plain.file("e.jpg"), {.width = 40, .height = 30});
    ASSERT_EQ(plain.run().status, 0);
    EXPECT_FALSE(contains(read_file(plain.file("e.jpg.html")), "srcset"));
    EXPECT_FALSE(contains(read_file(plain.file("index.html")), "srcset"));
    EXPECT_FALSE(file_exists(plain.file(".scaled2x")));
    EXPECT_FALSE(file_exists(plain.file(".thumbs2x")));
}

TEST(double_density, cached_and_removed_like_the_normal_images)
{
    album a;
    const int64_t kept = 1700000005;
    write_jpeg(a.file("x.jpg"), {.width = 64, .height = 48});
    write_jpeg(a.file("y.jpg"), {.width = 64, .height = 48});
    set_mtime(a.file("x.jpg"), 1700000000);
    set_mtime(a.file("y.jpg"), 1700000000);
    ASSERT_EQ(a.run({"-2"}).status, 0);
    const std::vector<std::string> derived = {".scaled/x.jpg", ".thumbs/x.jpg", ".scaled2x/x.jpg",
                                              ".thumbs2x/x.jpg"};
    // Derived files carry their photograph's time: a later one marks those kept.
    for (const std::string &d : derived) set_mtime(a.file(d), kept);

    // Fresh: nothing rewritten. A newer source: all four. -f: all four.
    ASSERT_EQ(a.run({"-2"}).status, 0);
    for (const std::string &d : derived) EXPECT_EQ(mtime_of(a.file(d)), kept) << d;
    set_mtime(a.file(".thumbs2x/x.jpg"), 1600000000);
    ASSERT_EQ(a.run({"-2"}).status, 0);
    EXPECT_NE(mtime_of(a.file(".thumbs2x/x.jpg")), 1600000000);
    EXPECT_EQ(mtime_of(a.file(".scaled2x/x.jpg")), kept);
    for (const std::string &d : derived) set_mtime(a.file(d), kept);
    ASSERT_EQ(a.run({"-2", "-f"}).status, 0);
    for (const std::string &d : derived) EXPECT_NE(mtime_of(a.file(d)), kept) << d;

    // Without -2 the 2x files are left as they are, but their orphans go,
    // reported like the others.
    const std::string y = a.file("y.jpg");
    ASSERT_EQ(std::remove(y.c_str()), 0);
    for (const std::string &d : derived) set_mtime(a.file(d), kept);
    const run_result r = a.run();
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string &d : derived) EXPECT_EQ(mtime_of(a.file(d)), kept) << d;
    for (const char *d : {".scaled/", ".thumbs/", ".scaled2x/", ".thumbs2x/"}) {
        EXPECT_TRUE(contains(r.out, "deleted orphan " + a.dir + "/" + d + "y.jpg\n")) << d;
        EXPECT_FALSE(file_exists(a.file(std::string(d) + "y.jpg")));
    }
    EXPECT_FALSE(file_exists(a.file("y.jpg.html")));

    // An album that never had 2x images says nothing of their directories.
    album empty;
    const run_result quiet = empty.run({"-2"});
    EXPECT_EQ(quiet.out, "Directory " + empty.dir + "\ncan't opendir(" + empty.dir +
                             "/.scaled)\ncan't opendir(" + empty.dir +
                             "/.thumbs)\n0 images processed in album '" + empty.dir +
                             "'.\n1 album processed.\n");
}

TEST(double_density, refusals)
{
    album a;
    write_jpeg(a.file("x.jpg"), {.width = 64, .height = 48});
    write_file(a.file(".thumbs2x"), "in the way");
    const run_result r = a.run({"-2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vistrel: '" + a.dir + "/.thumbs2x' exists, but is not a directory\n");

    // Twice a size JPEG can just hold is more than it can.
    album big;
    write_jpeg(big.file("x.jpg"), {.width = 64, .height = 48});
    const run_result high = big.run({"-2", "-H", "40000"});
    EXPECT_EQ(high.status, 1);
    EXPECT_EQ(
        high.err,
        "   x.jpg: no EXIF data found\nvistrel: can't scale '" + big.dir +
            "/x.jpg' to a height of 80000 pixels: JPEG images are at most 65500 pixels high\n");
    EXPECT_FALSE(file_exists(big.file(".scaled2x/x.jpg")));
    EXPECT_FALSE(file_exists(big.file(".scaled/x.jpg")));
}

}  // namespace
