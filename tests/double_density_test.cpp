// -2: a scaled image and a thumbnail at twice the size of the normal ones,
// and -b: a big image at three times the scaled one, offered to
// high-density and big screens through srcset, kept like the others.
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

// -2 and -b make their files at two and three times the size of the normal
// ones, but never larger than the photograph: then at its own size. The
// normal images keep their sizes, enlarged or not.
TEST(double_density, dense_and_big_images_never_larger_than_the_photograph)
{
    album a;
    struct size {
        int width, height;
    };
    const struct {
        const char *name;
        size photo, scaled, thumb, scaled2x, thumb2x, big;
    } cases[] = {
        {"landscape.jpg",
         {4000, 3000},
         {640, 480},
         {128, 96},
         {1280, 960},
         {256, 192},
         {1920, 1440}},
        // between twice and three times the height: the big one is the photograph's size
        {"medium.jpg", {1600, 1200}, {640, 480}, {128, 96}, {1280, 960}, {256, 192}, {1600, 1200}},
        // exactly twice the height
        {"double.jpg", {1280, 960}, {640, 480}, {128, 96}, {1280, 960}, {256, 192}, {1280, 960}},
        // smaller than the scaled image, which is enlarged; the doubles are not
        {"portrait.jpg", {300, 400}, {360, 480}, {72, 96}, {300, 400}, {144, 192}, {300, 400}},
        // one pixel wide: no double is one pixel wide
        {"needle.jpg", {1, 961}, {1, 480}, {1, 96}, {1, 961}, {1, 961}, {1, 961}},
    };
    for (const auto &c : cases)
        write_jpeg(a.file(c.name), {.width = c.photo.width, .height = c.photo.height});
    const run_result r = a.run({"-2", "-b"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const struct {
            std::string dir;
            size expected;
        } made[] = {{".scaled", c.scaled},
                    {".thumbs", c.thumb},
                    {".scaled2x", c.scaled2x},
                    {".thumbs2x", c.thumb2x},
                    {".big", c.big}};
        for (const auto &m : made) {
            const decoded_jpeg got = decode_jpeg(a.file(m.dir + "/" + c.name));
            EXPECT_EQ(got.width, m.expected.width) << m.dir;
            EXPECT_EQ(got.height, m.expected.height) << m.dir;
            EXPECT_FALSE(file_exists(a.file(m.dir + "/" + c.name + ".tmp")));
        }
    }
}

// The photo on its page is offered in every size by width, with the width
// the stylesheet shows it at; thumbnails offer their double for 2x screens.
// A file no larger than a smaller one is not offered.
TEST(double_density, pages_offer_every_size_right_after_src)
{
    album a;
    write_jpeg(a.file("a b.jpg"), {.width = 1280, .height = 960});
    write_jpeg(a.file("c%d.jpg"), {.width = 2000, .height = 1500});
    write_jpeg(a.file("e.jpg"), {.width = 40, .height = 30});
    write_jpeg(a.file("f.jpg"), {.width = 200, .height = 150});
    ASSERT_EQ(a.run({"-2", "-b"}).status, 0);

    const auto sizes = [](const std::string &w, const std::string &h) {
        const std::string limits = "calc(85vh * " + w + " / " + h + "), " + w + "px)";
        return "(max-width: 40em) min(calc(100vw - 1.5em), " + limits +
               ", min(calc(min(100vw, 120em) - 2 * clamp(0.75em, 3vw, 2.5em) - 1em), " + limits;
    };
    // Blanks end a URL inside srcset, so there they are encoded too.
    const std::string middle = read_file(a.file("c%d.jpg.html"));
    EXPECT_TRUE(contains(middle, "<img src=\".scaled/c%25d.jpg\" srcset=\".scaled/c%25d.jpg 640w, "
                                 ".scaled2x/c%25d.jpg 1280w, .big/c%25d.jpg 1920w\" sizes=\"" +
                                     sizes("1920", "1440") +
                                     "\" border=\"0\" width=\"640\" height=\"480\" style=\"--w: "
                                     "1920; --h: 1440\" alt=\"c%d.jpg\">"));
    EXPECT_TRUE(contains(
        middle, "<img src=\".thumbs/a b.jpg\" srcset=\".thumbs2x/a%20b.jpg 2x\" border=\"0\" "
                "width=\"128\" height=\"96\""));
    EXPECT_TRUE(contains(middle, "<img src=\".thumbs/e.jpg\" border=\"0\""));
    // Its big image would be the scaled double again.
    EXPECT_TRUE(contains(read_file(a.file("a b.jpg.html")),
                         "<img src=\".scaled/a b.jpg\" srcset=\".scaled/a%20b.jpg 640w, "
                         ".scaled2x/a%20b.jpg 1280w\" sizes=\"" +
                             sizes("1280", "960") +
                             "\" border=\"0\" width=\"640\" height=\"480\" style=\"--w: 1280; "
                             "--h: 960\" alt=\"a b.jpg\">"));
    // Smaller than its scaled image: the scaled image is all there is to offer.
    EXPECT_TRUE(contains(read_file(a.file("e.jpg.html")),
                         "<img src=\".scaled/e.jpg\" border=\"0\" width=\"640\" height=\"480\" "
                         "style=\"--w: 640; --h: 480\" alt=\"e.jpg\">"));
    const std::string index = read_file(a.file("index.html"));
    EXPECT_TRUE(contains(index, "<a href=\"a b.jpg.html\"><img src=\".thumbs/a b.jpg\" "
                                "srcset=\".thumbs2x/a%20b.jpg 2x\" border=\"0\" alt=\"a b.jpg\" "
                                "width=\"128\" height=\"96\"></a>"));
    EXPECT_TRUE(contains(index, "<img src=\".thumbs/e.jpg\" border=\"0\""));
    // Its double thumbnail is the photograph, 200 pixels wide for 128.
    EXPECT_TRUE(contains(
        index, "<img src=\".thumbs/f.jpg\" srcset=\".thumbs2x/f.jpg 1.5625x\" border=\"0\""));

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
    ASSERT_EQ(a.run({"-2", "-b"}).status, 0);
    const std::vector<std::string> derived = {".scaled/x.jpg", ".thumbs/x.jpg", ".scaled2x/x.jpg",
                                              ".thumbs2x/x.jpg", ".big/x.jpg"};
    // Derived files carry their photograph's time: a later one marks those kept.
    for (const std::string &d : derived) set_mtime(a.file(d), kept);

    // Fresh: nothing rewritten. An older derived file: that one. -f: all.
    ASSERT_EQ(a.run({"-2", "-b"}).status, 0);
    for (const std::string &d : derived) EXPECT_EQ(mtime_of(a.file(d)), kept) << d;
    for (const char *older : {".thumbs2x/x.jpg", ".big/x.jpg"}) {
        SCOPED_TRACE(older);
        set_mtime(a.file(older), 1600000000);
        ASSERT_EQ(a.run({"-2", "-b"}).status, 0);
        for (const std::string &d : derived) {
            if (d == older)
                EXPECT_NE(mtime_of(a.file(d)), 1600000000) << d;
            else
                EXPECT_EQ(mtime_of(a.file(d)), kept) << d;
        }
        set_mtime(a.file(older), kept);
    }
    ASSERT_EQ(a.run({"-2", "-b", "-f"}).status, 0);
    for (const std::string &d : derived) EXPECT_NE(mtime_of(a.file(d)), kept) << d;

    // Without -2 and -b their files are left as they are, but their orphans
    // go, reported like the others.
    const std::string y = a.file("y.jpg");
    ASSERT_EQ(std::remove(y.c_str()), 0);
    for (const std::string &d : derived) set_mtime(a.file(d), kept);
    const run_result r = a.run();
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string &d : derived) EXPECT_EQ(mtime_of(a.file(d)), kept) << d;
    for (const char *d : {".scaled/", ".thumbs/", ".scaled2x/", ".thumbs2x/", ".big/"}) {
        EXPECT_TRUE(contains(r.out, "deleted orphan " + a.dir + "/" + d + "y.jpg\n")) << d;
        EXPECT_FALSE(file_exists(a.file(std::string(d) + "y.jpg")));
    }
    EXPECT_FALSE(file_exists(a.file("y.jpg.html")));

    // An album that never had their images says nothing of their directories.
    album empty;
    const run_result quiet = empty.run({"-2", "-b"});
    EXPECT_EQ(quiet.out, "Directory " + empty.dir + "\ncan't opendir(" + empty.dir +
                             "/.scaled)\ncan't opendir(" + empty.dir +
                             "/.thumbs)\n0 images processed in album '" + empty.dir +
                             "'.\n1 album processed.\n");
}

// A file where a cache directory of -2 or -b belongs ends the run before
// anything is made.
TEST(double_density, refusals)
{
    struct refusal_case {
        const char *option;
        const char *dir;
    };
    for (const refusal_case &c : {refusal_case{"-2", ".thumbs2x"}, refusal_case{"-b", ".big"}}) {
        SCOPED_TRACE(c.option);
        album a;
        write_jpeg(a.file("x.jpg"), {.width = 64, .height = 48});
        write_file(a.file(c.dir), "in the way");
        const run_result r = a.run({c.option});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "vistrel: '" + a.dir + "/" + c.dir +
                             "' exists, but is not a directory\n"
                             "vistrel: 1 album could not be made\n");
        EXPECT_FALSE(file_exists(a.file(".scaled/x.jpg")));
    }
}

}  // namespace
