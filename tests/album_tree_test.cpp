// -R and -N: albums at any depth, as the folders lie, with breadcrumbs,
// sub-album cards, covers from below and titles from folder names; every
// link of every page leads to a file. Without them nothing changes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/limits.h"
#include "support/gallery_snapshot.h"
#include "support/jpeg_fixture.h"
#include "support/link_walk.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

// Three levels deep: 2024 holds a photo and two albums, one of them with
// no photo of its own and one below it, the other empty; Family has a
// title of its own and an album inside; a hidden folder and a link to a
// folder are no albums; two names a URL must encode.
void fill_tree(const std::string &root)
{
    int seed = 0;
    const auto photo = [&](const std::string &path, int width, int height) {
        write_jpeg(root + "/" + path,
                   {.width = width,
                    .height = height,
                    .seed = static_cast<uint32_t>(++seed),
                    .exif = exif_recipe{.model = "Camera", .taken = "2024:05:06 07:08:09"}});
    };
    for (const char *dir : {"2024", "2024/Lisbon trip", "2024/Lisbon trip/Day 1", "2024/empty",
                            "Family", "Family/Kids", ".hidden", "\xC3\x89t\xC3\xA9", "a%#?b"})
        make_dir(root + "/" + dir);
    photo("2024/x.jpg", 200, 150);
    photo("2024/Lisbon trip/Day 1/a.jpg", 150, 200);
    photo("2024/Lisbon trip/Day 1/b.jpg", 200, 150);
    photo("Family/f.jpg", 200, 150);
    photo("Family/Kids/k.jpg", 200, 150);
    write_file(root + "/Family/.description", ". Family &amp; friends\n");
    photo(".hidden/h.jpg", 200, 150);
    photo("\xC3\x89t\xC3\xA9/e.jpg", 200, 150);
    photo("a%#?b/p.jpg", 200, 150);
    ASSERT_EQ(symlink("Family", (root + "/link").c_str()), 0);
}

std::vector<std::string> pages_of(const std::string &root)
{
    std::vector<std::string> pages;
    for (const std::string &name : list_names(root, {.recursive = true}))
        if (name.ends_with(".html")) pages.push_back(name);
    return pages;
}

void expect_every_link_resolves(const std::string &root)
{
    size_t checked = 0;
    for (const broken_link &link : broken_links(root, &checked))
        ADD_FAILURE() << link.page << ": " << link.target << " leads nowhere";
    EXPECT_GT(checked, 0u);
}

// The line of the page that starts with `start`, or "" when none does.
std::string line_of(const std::string &page, const std::string &start)
{
    size_t at = page.find("\n" + start);
    if (at == std::string::npos) return {};
    ++at;
    return page.substr(at, page.find('\n', at) - at);
}

TEST(album_tree, every_folder_is_an_album_and_every_link_resolves)
{
    temp_dir g;
    fill_tree(g.path);
    const run_result r = run_vistrel({"-R", "-N", "-C", "-a", "-n", "-2", "-b", g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(pages_of(g.path),
              (std::vector<std::string>{
                  "2024/Lisbon trip/Day 1/a.jpg.html", "2024/Lisbon trip/Day 1/b.jpg.html",
                  "2024/Lisbon trip/Day 1/index.html", "2024/Lisbon trip/index.html",
                  "2024/index.html", "2024/x.jpg.html", "Family/Kids/index.html",
                  "Family/Kids/k.jpg.html", "Family/f.jpg.html", "Family/index.html",
                  "a%#?b/index.html", "a%#?b/p.jpg.html", "index.html",
                  "\xC3\x89t\xC3\xA9/e.jpg.html", "\xC3\x89t\xC3\xA9/index.html"}));
    // The hidden folder and the link's target through the link are left alone.
    EXPECT_FALSE(file_exists(g.file(".hidden/.scaled")));
    EXPECT_EQ(r.out.find("Directory " + g.path + "/link"), std::string::npos);
    EXPECT_NE(r.out.find("8 albums processed.\n"), std::string::npos) << r.out;
    expect_every_link_resolves(g.path);

    const std::string gallery = read_file(g.file("index.html"));
    EXPECT_NE(gallery.find("2024</a> (3 photos, 3 albums)\n"), std::string::npos) << gallery;
    EXPECT_NE(gallery.find("Family &amp; friends</a> (2 photos, 1 album)\n"), std::string::npos);
    EXPECT_NE(gallery.find("<a href=\"a%25%23%3Fb/index.html\">"), std::string::npos);
    EXPECT_NE(gallery.find("<a href=\"%C3%89t%C3%A9/index.html\">"), std::string::npos);
    EXPECT_EQ(gallery.find("link/"), std::string::npos);
    EXPECT_EQ(gallery.find("hidden"), std::string::npos);

    // An album of albums: their cards first, the empty one without a link,
    // the cover taken from the album below the one that has none.
    const std::string year = read_file(g.file("2024/index.html"));
    EXPECT_EQ(line_of(year, "<p class=\"breadcrumbs\">"),
              "<p class=\"breadcrumbs\"><a href=\"../index.html\">my webgallery</a> &rsaquo; "
              "<span>2024</span></p>");
    EXPECT_NE(year.find("<title>2024 / 1</title>"), std::string::npos);
    EXPECT_NE(year.find("<h1 align=\"center\">2024 / 1</h1>"), std::string::npos);
    EXPECT_NE(year.find("<li class=\"albumitem\"><a href=\"Lisbon trip/index.html\"><img "
                        "class=\"albumcover\" src=\"Lisbon trip/Day 1/.scaled/a.jpg\""),
              std::string::npos)
        << year;
    EXPECT_NE(year.find("Lisbon trip</a> (2 photos, 1 album)\n"), std::string::npos);
    EXPECT_NE(year.find("<li class=\"albumitem\">empty (0 images)\n"), std::string::npos);
    EXPECT_LT(year.find("class=\"albumlist\""), year.find("x.jpg.html"));
    EXPECT_NE(year.find("Escape:'../index.html'"), std::string::npos);
    EXPECT_NE(year.find("href=\"../vistrel.css\""), std::string::npos);
    EXPECT_NE(year.find("Back to gallery index"), std::string::npos);

    // Three levels down: the stylesheet three levels up, every step a link
    // but the page's own, the title the folder's name.
    const std::string day = read_file(g.file("2024/Lisbon trip/Day 1/index.html"));
    EXPECT_NE(day.find("href=\"../../../vistrel.css\""), std::string::npos);
    EXPECT_EQ(line_of(day, "<p class=\"breadcrumbs\">"),
              "<p class=\"breadcrumbs\"><a href=\"../../../index.html\">my webgallery</a> "
              "&rsaquo; <a href=\"../../index.html\">2024</a> &rsaquo; <a "
              "href=\"../index.html\">Lisbon trip</a> &rsaquo; <span>Day 1</span></p>");
    EXPECT_NE(day.find("<title>Day 1 / 1</title>"), std::string::npos);
    EXPECT_NE(day.find("Back to the album above"), std::string::npos);
    const std::string photo = read_file(g.file("2024/Lisbon trip/Day 1/a.jpg.html"));
    EXPECT_NE(photo.find("<title>Day 1: a.jpg</title>"), std::string::npos);
    EXPECT_NE(photo.find("&rsaquo; <a href=\"index.html\">Day 1</a></p>"), std::string::npos);

    // A title of its own wins over the folder's name, in the breadcrumbs too.
    const std::string kid = read_file(g.file("Family/Kids/k.jpg.html"));
    EXPECT_NE(kid.find("<a href=\"../index.html\">Family &amp; friends</a>"), std::string::npos);
    EXPECT_NE(kid.find("<title>Kids: k.jpg</title>"), std::string::npos);
}

// Names are data wherever they go: escaped in the text, encoded in links.
TEST(album_tree, folder_names_are_escaped_in_titles_and_encoded_in_links)
{
    temp_dir g;
    make_dir(g.file("a<b>"));
    make_dir(g.file("a<b>/c&d"));
    write_jpeg(g.file("a<b>/c&d/p.jpg"), {.width = 200, .height = 150});
    const run_result r = run_vistrel({"-R", "-N", g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string page = read_file(g.file("a<b>/c&d/p.jpg.html"));
    EXPECT_NE(page.find("<title>c&amp;d: p.jpg</title>"), std::string::npos) << page;
    EXPECT_NE(page.find("<a href=\"../index.html\">a&lt;b&gt;</a>"), std::string::npos);
    const std::string above = read_file(g.file("a<b>/index.html"));
    EXPECT_NE(above.find("<a href=\"c&amp;d/index.html\">c&amp;d</a> (1 image)"), std::string::npos)
        << above;
    expect_every_link_resolves(g.path);
}

// A folder deleted: the album above it rewrites its cards, and the pages
// of an album left with nothing below it go, as derived files of a
// removed photo do.
TEST(album_tree, pages_of_a_removed_folder_go_with_it)
{
    temp_dir g;
    fill_tree(g.path);
    ASSERT_EQ(run_vistrel({"-R", g.path}).status, 0);
    ASSERT_TRUE(file_exists(g.file("2024/Lisbon trip/index.html")));
    for (const char *file : {"a.jpg", "b.jpg", "a.jpg.html", "b.jpg.html", "index.html",
                             ".scaled/a.jpg", ".scaled/b.jpg", ".thumbs/a.jpg", ".thumbs/b.jpg"})
        ASSERT_EQ(unlink(g.file(std::string("2024/Lisbon trip/Day 1/") + file).c_str()), 0);
    for (const char *dir : {".scaled", ".thumbs", ""})
        ASSERT_EQ(rmdir(g.file(std::string("2024/Lisbon trip/Day 1/") + dir).c_str()), 0);

    const run_result r = run_vistrel({"-R", g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("deleted orphan " + g.path + "/2024/Lisbon trip/index.html\n"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(file_exists(g.file("2024/Lisbon trip/index.html")));
    const std::string year = read_file(g.file("2024/index.html"));
    EXPECT_NE(year.find("<li class=\"albumitem\">Lisbon trip (0 images)\n"), std::string::npos)
        << year;
    EXPECT_NE(read_file(g.file("index.html")).find("2024</a> (1 photo, 2 albums)"),
              std::string::npos);
    expect_every_link_resolves(g.path);

    // The last photo of the top album gone too: no page leads to it any more.
    for (const char *file : {"x.jpg", "x.jpg.html"})
        unlink(g.file(std::string("2024/") + file).c_str());
    ASSERT_EQ(run_vistrel({"-R", g.path}).status, 0);
    EXPECT_FALSE(file_exists(g.file("2024/index.html")));
    EXPECT_NE(
        read_file(g.file("index.html")).find("<li class=\"albumitem\">2024 (0 photos, 2 albums)"),
        std::string::npos);
    expect_every_link_resolves(g.path);
}

// Everything but the breadcrumb line is as without -R on a gallery of one
// level, derived files and all (covers, -C, are better with -R: below); and
// without -R and -N the albums below the top level are not looked at.
TEST(album_tree, a_flat_gallery_is_made_alike_with_or_without_it)
{
    std::map<std::string, std::string> plain, tree;
    for (const bool recursive : {false, true}) {
        temp_dir g;
        for (const char *album : {"one", "two", "three"}) {
            make_dir(g.file(album));
            for (int i = 0; i < 3; ++i)
                write_jpeg(g.file(std::string(album) + "/p" + std::to_string(i) + ".jpg"),
                           {.width = 160, .height = 120, .seed = static_cast<uint32_t>(i)});
        }
        make_dir(g.file("empty"));
        write_file(g.file("two/.description"), ". Second\np1.jpg A caption\n");
        std::vector<std::string> args = {"-n", "-2", "-D"};
        if (recursive) args.push_back("-R");
        args.push_back(g.path);
        const run_result r = run_vistrel(args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::map<std::string, std::string> files = snapshot(g.path);
        // The record of the options that shaped the derived files names -R.
        EXPECT_EQ(files.erase(".derive-options"), 1u);
        for (auto &[name, bytes] : files)
            bytes = std::regex_replace(bytes, std::regex("<p class=\"breadcrumbs\">.*\n"), "");
        (recursive ? tree : plain) = std::move(files);
    }
    EXPECT_TRUE(plain == tree);
    EXPECT_EQ(plain.size(), tree.size());

    temp_dir g;
    fill_tree(g.path);
    ASSERT_EQ(run_vistrel({g.path}).status, 0);
    EXPECT_FALSE(file_exists(g.file("2024/Lisbon trip/index.html")));
    EXPECT_FALSE(file_exists(g.file("2024/Lisbon trip/Day 1/.scaled")));
    EXPECT_EQ(read_file(g.file("2024/index.html")).find("breadcrumbs"), std::string::npos);
}

// With -R the covers offer the .big file too (-b), and the first row of
// them is not lazy; on album pages as on the gallery page.
TEST(album_tree, covers_offer_every_size_and_the_first_row_comes_at_once)
{
    temp_dir g;
    make_dir(g.file("top"));
    for (int i = 0; i < 5; ++i) {
        const std::string album = "top/a" + std::to_string(i);
        make_dir(g.file(album));
        write_jpeg(g.file(album + "/p.jpg"), {.width = 600, .height = 900});
    }
    for (const char *flags : {"-R", ""}) {
        std::vector<std::string> args = {"-C", "-b"};
        if (*flags) args.push_back(flags);
        args.push_back(g.path);
        ASSERT_EQ(run_vistrel(args).status, 0);
        const std::string page = read_file(g.file("index.html"));
        if (!*flags) {
            EXPECT_EQ(page.find("/.big/"), std::string::npos);
            continue;
        }
        // The top album has no photo: its cover is its first album's.
        EXPECT_NE(page.find(
                      "<img class=\"albumcover\" src=\"top/a0/.scaled/p.jpg\" srcset=\"top/a0/"
                      ".thumbs/p.jpg 64w, top/a0/.scaled/p.jpg 320w, top/a0/.big/p.jpg 600w\""),
                  std::string::npos)
            << page;
        EXPECT_EQ(page.find("loading=\"lazy\""), std::string::npos);
        const std::string cards = read_file(g.file("top/index.html"));
        size_t lazy = 0;
        for (size_t at = cards.find("loading=\"lazy\""); at != std::string::npos;
             at = cards.find("loading=\"lazy\"", at + 1))
            ++lazy;
        EXPECT_EQ(lazy, 1u) << cards;
        EXPECT_NE(cards.find("a4/.scaled/p.jpg\" srcset=\"a4/.thumbs/p.jpg 64w, a4/.scaled/p.jpg "
                             "320w, a4/.big/p.jpg 600w\" sizes=\"(max-width: 40em) calc(100vw - "
                             "1.5em), 16em\" width=\"320\" height=\"480\" loading=\"lazy\""),
                  std::string::npos);
        expect_every_link_resolves(g.path);
    }
}

// -N alone: titles from folder names, breadcrumbs, no albums below the top.
TEST(album_tree, folder_titles_alone_name_the_albums_of_the_gallery)
{
    temp_dir g;
    fill_tree(g.path);
    const run_result r = run_vistrel({"-N", g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string year = read_file(g.file("2024/index.html"));
    EXPECT_NE(year.find("<title>2024 / 1</title>"), std::string::npos);
    EXPECT_NE(year.find("&rsaquo; <span>2024</span>"), std::string::npos);
    EXPECT_EQ(year.find("albumlist"), std::string::npos);
    EXPECT_NE(read_file(g.file("Family/f.jpg.html")).find("<title>Family &amp; friends: f.jpg"),
              std::string::npos);
    EXPECT_FALSE(file_exists(g.file("2024/Lisbon trip/index.html")));
    expect_every_link_resolves(g.path);
}

// -q counts the albums of the whole tree; -p deals the images of the whole
// tree, and the pages run after the parts makes nothing.
TEST(album_tree, quiet_counts_and_parts_cover_the_whole_tree)
{
    temp_dir whole;
    fill_tree(whole.path);
    const run_result quiet = run_vistrel({"-R", "-q", whole.path});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_NE(quiet.out.find("8 albums, 7 photos: 7 made, 0 fresh, 0 deleted"), std::string::npos)
        << quiet.out;

    temp_dir split;
    fill_tree(split.path);
    for (const char *part : {"1/3", "2/3", "3/3"}) {
        const run_result r = run_vistrel({"-R", "-q", "-p", part, split.path});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const run_result pages = run_vistrel({"-R", "-q", split.path});
    ASSERT_EQ(pages.status, 0) << pages.err;
    EXPECT_NE(pages.out.find("8 albums, 7 photos: 0 made, 7 fresh, 0 deleted"), std::string::npos)
        << pages.out;
    EXPECT_TRUE(snapshot(split.path) == snapshot(whole.path));
}

// -k: a photo that cannot be read, deep down, is left out; the rest is made.
TEST(album_tree, keep_going_reaches_every_depth)
{
    temp_dir g;
    fill_tree(g.path);
    write_file(g.file("2024/Lisbon trip/Day 1/c.jpg"), "not a JPEG file");
    const run_result r = run_vistrel({"-R", "-k", g.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("1 photo could not be read"), std::string::npos) << r.err;
    EXPECT_TRUE(file_exists(g.file("2024/Lisbon trip/Day 1/b.jpg.html")));
    EXPECT_FALSE(file_exists(g.file("2024/Lisbon trip/Day 1/c.jpg.html")));
    expect_every_link_resolves(g.path);
}

// The walk stops at a depth, with a warning: a folder nested past it is no album.
TEST(album_tree, folders_past_the_deepest_level_are_no_albums)
{
    temp_dir g;
    std::string path = g.path;
    std::string deepest;
    for (size_t level = 1; level <= deepest_album + 1; ++level) {
        path += "/d";
        make_dir(path);
        if (level == deepest_album) deepest = path;
    }
    write_jpeg(deepest + "/p.jpg", {.width = 100, .height = 80});
    write_jpeg(path + "/q.jpg", {.width = 100, .height = 80});
    const run_result r = run_vistrel({"-R", g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("is " + std::to_string(deepest_album) + " folders deep"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(file_exists(deepest + "/p.jpg.html"));
    EXPECT_FALSE(file_exists(path + "/q.jpg.html"));
    std::string up;
    for (size_t level = 0; level < deepest_album; ++level) up += "../";
    EXPECT_NE(read_file(deepest + "/p.jpg.html").find("href=\"" + up + "vistrel.css\""),
              std::string::npos);
    expect_every_link_resolves(g.path);
}

}  // namespace
