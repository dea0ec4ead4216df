// The album driver end to end: which files are images, the order of the
// progress lines and of the pages, and the closing line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "album/image_order.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

// Image names in the order the index page shows them.
std::vector<std::string> index_order(const std::string &index_page)
{
    std::vector<std::string> names;
    static const std::regex cell("<a href=\"([^\"]+)\\.html\"><img");
    for (std::sregex_iterator it(index_page.begin(), index_page.end(), cell), end; it != end; ++it)
        names.push_back((*it)[1]);
    return names;
}

TEST(album, images_are_regular_files_with_a_jpeg_extension)
{
    temp_dir g;
    const std::string a = g.file("a");
    make_dir(a);
    const std::vector<std::string> images = {"upper.JPG", "mixed.Jpeg", "plain.jpg", ".jpg",
                                             "two.dots.jpeg"};
    for (const std::string &name : images) write_jpeg(a + "/" + name, {.width = 16, .height = 12});
    for (const char *name : {"second.jpg.txt", "short.jpe", "empty.", "nodot", "jpg", "x.jpg.tmp"})
        write_file(a + "/" + name, "not an image");
    make_dir(a + "/dir.jpg");
    ASSERT_EQ(symlink("plain.jpg", (a + "/link.jpg").c_str()), 0);

    const run_result r = run_vistrel({g.path});
    ASSERT_EQ(r.status, 0) << r.err;

    // Progress lines come in the order the directory lists its entries.
    std::string expected = "Directory " + a + "\n";
    for (const std::string &name : list_names(a, {.as_listed = true}))
        for (const std::string &image : images)
            if (name == image) expected += "Image " + a + "/" + name + "\n";
    expected += "1 thumbnail index pages created.\n5 images processed in album '" + a +
                "'.\n1 album processed.\n";
    EXPECT_EQ(r.out, expected);

    // Pages follow byte order of the names.
    EXPECT_EQ(index_order(read_file(a + "/index.html")),
              (std::vector<std::string>{".jpg", "mixed.Jpeg", "plain.jpg", "two.dots.jpeg",
                                        "upper.JPG"}));
    EXPECT_FALSE(file_exists(a + "/.scaled/link.jpg"));
    EXPECT_FALSE(file_exists(a + "/dir.jpg.html"));
}

TEST(album, sort_orders)
{
    temp_dir g;
    const std::string a = g.file("a");
    make_dir(a);
    // Sizes grow with the picture's area; the times give a third order, so
    // each row shows its option was applied.
    write_jpeg(a + "/b.jpg", {.width = 64, .height = 48});
    write_jpeg(a + "/C.jpg", {.width = 16, .height = 12});
    write_jpeg(a + "/a.jpg", {.width = 200, .height = 150});
    set_mtime(a + "/b.jpg", 1000);
    set_mtime(a + "/C.jpg", 2000);
    set_mtime(a + "/a.jpg", 3000);

    const struct {
        std::vector<std::string> options;
        std::vector<std::string> order;
    } cases[] = {
        {{}, {"C.jpg", "a.jpg", "b.jpg"}},
        {{"-s", "name"}, {"C.jpg", "a.jpg", "b.jpg"}},
        {{"-s", "size"}, {"C.jpg", "b.jpg", "a.jpg"}},
        {{"-s", "mtime"}, {"b.jpg", "C.jpg", "a.jpg"}},
        {{"-s", "size", "-s", "name"}, {"C.jpg", "a.jpg", "b.jpg"}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back(g.path);
        const run_result r = run_vistrel(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(index_order(read_file(a + "/index.html")), c.order);
    }
    // A changed time moves the image.
    set_mtime(a + "/C.jpg", 4000);
    ASSERT_EQ(run_vistrel({"-s", "mtime", g.path}).status, 0);
    EXPECT_EQ(index_order(read_file(a + "/index.html")),
              (std::vector<std::string>{"b.jpg", "a.jpg", "C.jpg"}));
}

// Equal sizes and times are ordered by name (byte order), whatever order the
// records come in: a sort that leaves equal elements as it finds them or
// moves them about gives the same pages. Enough records that the sort
// partitions rather than inserts.
TEST(album, ties_in_size_and_time_go_by_name)
{
    std::vector<image_info> images;
    for (int i = 0; i < 60; ++i) {
        image_info image;
        image.name = std::string(1, static_cast<char>(i % 2 == 0 ? 'a' + i / 4 : 'A' + i / 4)) +
                     std::to_string(i) + ".jpg";
        image.file_size = 1000 + i % 3;
        image.mtime = 5000 - i % 2;
        images.push_back(image);
    }
    const struct {
        image_order order;
        int64_t image_info::*key;
    } cases[] = {
        {image_order::size, &image_info::file_size},
        {image_order::mtime, &image_info::mtime},
    };
    std::mt19937 rng(3);
    for (const auto &c : cases) {
        const image_order_fn order = order_function(c.order);
        std::vector<image_info> want = images;
        std::sort(want.begin(), want.end(), [&c](const image_info &a, const image_info &b) {
            return a.*c.key != b.*c.key ? a.*c.key < b.*c.key : a.name < b.name;
        });
        for (int round = 0; round < 5; ++round) {
            std::shuffle(images.begin(), images.end(), rng);
            std::vector<image_info> got = images;
            std::sort(got.begin(), got.end(), [order](const image_info &a, const image_info &b) {
                return order(a, b) < 0;
            });
            std::vector<std::string> got_names, want_names;
            for (const image_info &image : got) got_names.push_back(image.name);
            for (const image_info &image : want) want_names.push_back(image.name);
            EXPECT_EQ(got_names, want_names);
        }
    }
}

// -s taken: by EXIF DateTimeOriginal, oldest first; undated and badly
// dated ones after all dated ones; ties and undated ones by name.
TEST(album, taken_order)
{
    temp_dir g;
    const std::string a = g.file("a");
    make_dir(a);
    const struct {
        const char *name;
        std::optional<std::string> taken;
    } images[] = {
        {"a.jpg", "2021:05:01 10:00:00"},
        {"b.jpg", std::nullopt},
        {"C.jpg", "2020:12:31 23:59:59"},
        {"d.jpg", "2021:05:01 10:00:00"},  // the same second as a.jpg
        {"E.jpg", "0000:00:00 00:00:00"},  // a camera without a set clock
        {"f.jpg", "2020:13:01 00:00:00"},
        {"g.jpg", "2019:01:01 00:00"},
        {"h.jpg", "1999:01:01 00:00:00"},
    };
    for (const auto &image : images) {
        jpeg_recipe recipe{.width = 16, .height = 12};
        recipe.exif = exif_recipe{.taken = image.taken};
        write_jpeg(a + "/" + image.name, recipe);
    }
    const run_result r = run_vistrel({"-s", "taken", g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(index_order(read_file(a + "/index.html")),
              (std::vector<std::string>{"h.jpg", "C.jpg", "a.jpg", "d.jpg", "E.jpg", "b.jpg",
                                        "f.jpg", "g.jpg"}));
}

// The album's title heads its index and image pages, and names it in the
// gallery index page and the closing line; without one, -d heads the pages.
TEST(album, titles)
{
    const struct {
        const char *what;
        std::optional<std::string> description;
        std::vector<std::string> options;
        std::string page_title;    // heading the album's pages
        std::string gallery_item;  // the album's name on the gallery page
        std::string closing_name;  // in "... processed in album '%s'."
    } cases[] = {
        {"no description", std::nullopt, {}, "my webgallery", "trip", ""},
        {"no title line", "a.jpg A caption\n", {"-d", "<b>Mine</b>"}, "<b>Mine</b>", "trip", ""},
        {"title",
         ". Summer <em>2024</em> &amp; more\n",
         {"-d", "ignored"},
         "Summer <em>2024</em> &amp; more",
         "Summer <em>2024</em> &amp; more",
         "Summer <em>2024</em> &amp; more"},
        {"empty title", ". \n", {}, "", "", ""},
        {"last title wins", ". First\n. Second\n", {}, "Second", "Second", "Second"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        temp_dir g;
        const std::string a = g.file("trip");
        make_dir(a);
        write_jpeg(a + "/a.jpg", {.width = 16, .height = 12});
        if (c.description) write_file(a + "/.description", *c.description);
        std::vector<std::string> args = c.options;
        args.push_back(g.path);
        const run_result r = run_vistrel(args);
        ASSERT_EQ(r.status, 0) << r.err;

        EXPECT_NE(read_file(a + "/index.html").find("<title>" + c.page_title + " / 1</title>"),
                  std::string::npos);
        EXPECT_NE(read_file(a + "/a.jpg.html").find("<title>" + c.page_title + ": a.jpg</title>"),
                  std::string::npos);
        EXPECT_NE(read_file(g.file("index.html"))
                      .find("<a href=\"trip/index.html\">" + c.gallery_item + "</a> (1 image)"),
                  std::string::npos);
        const std::string closing =
            c.description && c.description->starts_with(".") ? c.closing_name : a;
        EXPECT_NE(r.out.find("1 image processed in album '" + closing + "'.\n"), std::string::npos);
    }
}

TEST(album, empty_album_gets_no_cache_and_no_pages)
{
    temp_dir g;
    const std::string a = g.file("empty");
    make_dir(a);
    write_file(a + "/notes.txt", "x");
    const run_result r = run_vistrel({g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Directory " + a + "\ncan't opendir(" + a + "/.scaled)\ncan't opendir(" + a +
                         "/.thumbs)\n0 images processed in album '" + a +
                         "'.\n1 album processed.\n");
    EXPECT_FALSE(file_exists(a + "/.scaled"));
    EXPECT_FALSE(file_exists(a + "/.thumbs"));
    EXPECT_FALSE(file_exists(a + "/index.html"));

    const run_result kept = run_vistrel({"-o", g.path});
    EXPECT_EQ(kept.out, "Directory " + a + "\n0 images processed in album '" + a +
                            "'.\n1 album processed.\n");
}

}  // namespace
