// The gallery run end to end: which entries are albums, in what order, the
// gallery index page, and every way the run can fail.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "support/gallery_snapshot.h"
#include "support/jpeg_fixture.h"
#include "support/run_as_nobody.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"
#include "support/usage_text.h"

namespace {

// The version as a regular expression: its dots match dots only.
std::string version_pattern()
{
    std::string pattern;
    for (const char c : std::string(VISTREL_VERSION)) {
        if (c == '.') pattern += '\\';
        pattern += c;
    }
    return pattern;
}

// The footer carries the run's time; tests compare everything around it.
const std::regex footer_pattern(
    "<hr />\n<div class=\"generated\">Web gallery generated "
    "(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
    "[ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n with <a href=\"[^\"]+\">vistrel " +
    version_pattern() + "</a></div>\n");

std::string strip_footer(const std::string &page)
{
    return std::regex_replace(page, footer_pattern, "FOOTER\n");
}

std::string gallery_page(const std::string &title, const std::string &items)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           title +
           "</title>\n"
           "<link rel=\"stylesheet\" type=\"text/css\" href=\"vistrel.css\" />\n"
           "</head>\n<body>\n<h1 class=\"galleryheadline\">" +
           title +
           "</h1>\n"
           "<ul class=\"albumlist\">\n" +
           items + "</ul>\nFOOTER\n</body>\n</html>\n";
}

// An album with no images still has its cache directories looked at.
std::string empty_album_lines(const std::string &album)
{
    return "Directory " + album + "\ncan't opendir(" + album + "/.scaled)\ncan't opendir(" + album +
           "/.thumbs)\n0 images processed in album '" + album + "'.\n";
}

TEST(gallery, empty_gallery_gets_an_empty_list)
{
    temp_dir g;
    const run_result r = run_vistrel({g.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0 albums processed.\n");
    EXPECT_EQ(r.err, "");
    const std::string page = read_file(g.file("index.html"));
    EXPECT_TRUE(std::regex_search(page, footer_pattern));
    EXPECT_EQ(strip_footer(page), gallery_page("my webgallery", ""));
    EXPECT_FALSE(file_exists(g.file("index.html.tmp")));
}

TEST(gallery, only_visible_directories_are_albums_in_byte_order)
{
    temp_dir g;
    for (const char *dir : {"b", "B", "10", "9", ".hidden"}) make_dir(g.file(dir));
    write_file(g.file("file"), "x");
    ASSERT_EQ(symlink("b", g.file("link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", g.file("dangling").c_str()), 0);

    const run_result r = run_vistrel({"-d", "Trips", g.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, empty_album_lines(g.path + "/10") + empty_album_lines(g.path + "/9") +
                         empty_album_lines(g.path + "/B") + empty_album_lines(g.path + "/b") +
                         "4 albums processed.\n");
    // Albums without images have no index page to link to.
    EXPECT_EQ(strip_footer(read_file(g.file("index.html"))),
              gallery_page("Trips", "<li class=\"albumitem\">10 (0 images)\n"
                                    "<li class=\"albumitem\">9 (0 images)\n"
                                    "<li class=\"albumitem\">B (0 images)\n"
                                    "<li class=\"albumitem\">b (0 images)\n"));
}

TEST(gallery, one_album_one_image_in_the_singular)
{
    temp_dir g;
    make_dir(g.file("trip"));
    write_jpeg(g.file("trip/a.jpg"), {.width = 40, .height = 30});
    const run_result r = run_vistrel({g.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Directory " + g.path + "/trip\nImage " + g.path +
                         "/trip/a.jpg\n"
                         "1 thumbnail index pages created.\n1 image processed in album '" +
                         g.path + "/trip'.\n1 album processed.\n");
    EXPECT_EQ(
        strip_footer(read_file(g.file("index.html"))),
        gallery_page("my webgallery",
                     "<li class=\"albumitem\"><a href=\"trip/index.html\">trip</a> (1 image)\n"));
}

TEST(gallery, album_title_from_description_names_the_album)
{
    temp_dir g;
    make_dir(g.file("trip"));
    write_jpeg(g.file("trip/a.jpg"), {.width = 40, .height = 30});
    write_jpeg(g.file("trip/b.jpg"), {.width = 40, .height = 30});
    write_file(g.file("trip/.description"), ". Summer <em>2026</em>\n");
    const run_result r = run_vistrel({g.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("2 images processed in album 'Summer <em>2026</em>'.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(strip_footer(read_file(g.file("index.html"))),
              gallery_page("my webgallery", "<li class=\"albumitem\"><a href=\"trip/index.html\">"
                                            "Summer <em>2026</em></a> (2 images)\n"));
}

// In a URL, bytes beyond ASCII are encoded too, so that the link works
// whatever encoding a browser assumes; a backslash could make one lead to
// another host; and a blank that starts a name would be dropped.
TEST(gallery, directory_names_are_data_not_markup)
{
    temp_dir g;
    for (const char *name :
         {"Tom & Jerry's <b>\"best\" 50% #1?:x", "\\\\evil.example\\x", "Caf\xc3\xa9", " lead"}) {
        make_dir(g.file(name));
        write_jpeg(g.file(std::string(name) + "/a.jpg"), {.width = 40, .height = 30});
    }
    const run_result r = run_vistrel({g.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        strip_footer(read_file(g.file("index.html"))),
        gallery_page(
            "my webgallery",
            // a browser would drop a blank that starts a link
            "<li class=\"albumitem\"><a href=\"%20lead/index.html\"> lead</a> (1 image)\n"
            "<li class=\"albumitem\"><a href=\"Caf%C3%A9/index.html\">Caf\xc3\xa9</a> (1 image)\n"
            "<li class=\"albumitem\"><a href=\"Tom &amp; Jerry&#39;s &lt;b&gt;&quot;best&quot;"
            " 50%25 %231%3F%3Ax/index.html\">Tom &amp; Jerry&#39;s &lt;b&gt;"
            "&quot;best&quot; 50% #1?:x</a> (1 image)\n"
            "<li class=\"albumitem\"><a href=\"%5C%5Cevil.example%5Cx/index.html\">"
            "\\\\evil.example\\x</a> (1 image)\n"));
}

TEST(gallery, one_trailing_slash_is_dropped)
{
    temp_dir g;
    make_dir(g.file("a"));
    const run_result one = run_vistrel({g.path + "/"});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, empty_album_lines(g.path + "/a") + "1 album processed.\n");
    const run_result two = run_vistrel({g.path + "//"});
    EXPECT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(two.out, empty_album_lines(g.path + "//a") + "1 album processed.\n");
}

TEST(gallery, operand_must_be_a_directory)
{
    temp_dir t;
    write_file(t.file("plain"), "x");
    const run_result file = run_vistrel({t.file("plain")});
    EXPECT_EQ(file.status, 1);
    EXPECT_EQ(file.out, "");
    EXPECT_EQ(file.err,
              "vistrel: '" + t.file("plain") + "' is not a directory\n" + usage_then_hint());

    const run_result missing = run_vistrel({t.file("missing/")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "vistrel: can't stat(" + t.file("missing/") + "): No such file or directory\n");

    ASSERT_EQ(symlink(t.path.c_str(), t.file("link").c_str()), 0);
    EXPECT_EQ(run_vistrel({t.file("link")}).status, 0);  // the operand itself is followed
}

TEST(gallery, unwritable_index_page_is_reported)
{
    temp_dir g;
    make_dir(g.file("index.html.tmp"));
    const run_result r = run_vistrel({g.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vistrel: can't fopen(" + g.path + "/index.html.tmp): Is a directory\n");
}

TEST(gallery, failed_rename_keeps_what_was_there)
{
    temp_dir g;
    make_dir(g.file("index.html"));
    write_file(g.file("index.html/keep"), "x");
    const run_result r = run_vistrel({g.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vistrel: can't rename(" + g.path + "/index.html.tmp, " + g.path +
                         "/index.html): Is a directory\n");
    EXPECT_EQ(read_file(g.file("index.html/keep")), "x");
}

TEST(gallery, failure_in_an_album_leaves_the_previous_page_whole)
{
    temp_dir g;
    make_dir(g.file("a"));
    write_file(g.file("index.html"), "previous page");
    write_file(g.file("a/broken.jpg"), "this is not a JPEG file");
    const run_result r = run_vistrel({g.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Directory " + g.path + "/a\nImage " + g.path + "/a/broken.jpg\n");
    EXPECT_EQ(r.err, "vistrel: " + g.path +
                         "/a/broken.jpg: Not a JPEG file: starts with 0x74 0x68\n"
                         "use -k to leave unreadable photos out and make the rest\n");
    EXPECT_EQ(read_file(g.file("index.html")), "previous page");
    // Nothing half-written stays behind: the page begun goes with the failure.
    EXPECT_FALSE(file_exists(g.file("index.html.tmp")));
    EXPECT_FALSE(file_exists(g.file("a/.scaled/broken.jpg.tmp")));
    EXPECT_FALSE(file_exists(g.file("a/.thumbs/broken.jpg.tmp")));
}

TEST(gallery, unreadable_directories_are_reported)
{
    temp_dir g;
    open_to_everyone(g.path);
    const std::string locked = g.file("locked");
    make_dir(locked);
    chmod(locked.c_str(), 0333);  // searchable and writable, not listable
    const run_result gallery = run_vistrel_as_nobody({locked});
    EXPECT_EQ(gallery.status, 1);
    EXPECT_EQ(gallery.out, "");
    EXPECT_EQ(gallery.err, "vistrel: can't opendir(" + locked + "): Permission denied\n");
    // The page was begun before the listing failed, and went with it.
    EXPECT_FALSE(file_exists(locked + "/index.html.tmp"));

    const std::string album = locked + "/album";
    make_dir(album);
    chmod(locked.c_str(), 0777);
    chmod(album.c_str(), 0333);
    const run_result in_album = run_vistrel_as_nobody({locked});
    EXPECT_EQ(in_album.status, 1);
    EXPECT_EQ(in_album.out, "Directory " + album + "\n");
    EXPECT_EQ(in_album.err, "vistrel: can't opendir(" + album + "): Permission denied\n");
    EXPECT_FALSE(file_exists(locked + "/index.html"));
}

// An album at fault itself (a cache directory that is no directory, one the
// run may not make) stops no gallery, with or without -k: it is reported
// and left out, with nothing in it touched and no place on the gallery
// page; the other albums and the gallery page are made, and the run ends
// with status 1, counting what it left out.
TEST(gallery, an_album_at_fault_is_left_out_and_the_others_are_made)
{
    temp_dir outside;  // where a planted link leads
    write_file(outside.file("keep.jpg"), "the owner's");
    const struct {
        const char *what;
        std::vector<std::string> options;
        std::function<void(const std::string &)> plant;  // given the album
        std::function<std::string(const std::string &)> message;
    } cases[] = {
        {".thumbs a link to a directory",
         {},
         [&](const std::string &a) {
             ASSERT_EQ(symlink(outside.path.c_str(), (a + "/.thumbs").c_str()), 0);
         },
         [](const std::string &a) { return a + "/.thumbs exists, but is not a directory\n"; }},
        {".scaled a file, with -k",
         {"-k"},
         [](const std::string &a) { write_file(a + "/.scaled", "in the way"); },
         [](const std::string &a) {
             return "'" + a + "/.scaled' exists, but is not a directory\n";
         }},
        {".scaled2x a dangling link, with -2 and -q",
         {"-2", "-q"},
         [&](const std::string &a) {
             ASSERT_EQ(symlink(outside.file("none").c_str(), (a + "/.scaled2x").c_str()), 0);
         },
         [](const std::string &a) {
             return "'" + a + "/.scaled2x' exists, but is not a directory\n";
         }},
        {"an album the run may not write into",
         {},
         [](const std::string &a) { ASSERT_EQ(chmod(a.c_str(), 0555), 0); },
         [](const std::string &a) {
             return "can't mkdir(" + a + "/.scaled): Permission denied\n";
         }},
        // Names the run writes to, taken by directories it may not remove.
        {"a directory where a page is written",
         {"-k"},
         [](const std::string &a) { make_dir(a + "/x.jpg.html.tmp"); },
         [](const std::string &a) {
             return "fopen(" + a + "/x.jpg.html.tmp) failed: Is a directory\n";
         }},
        {"a directory at a derived file's name, newer than the photograph",
         {"-j", "2"},
         [](const std::string &a) {
             make_dir(a + "/.thumbs");
             make_dir(a + "/.thumbs/x.jpg");
             set_mtime(a + "/.thumbs/x.jpg", 4000000000);
             open_to_everyone(a + "/.thumbs");
         },
         [](const std::string &a) {
             return "can't rename(" + a + "/.thumbs/x.jpg.<tag>.tmp, " + a +
                    "/.thumbs/x.jpg): Is a directory\n";
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        temp_dir g;
        open_to_everyone(g.path);
        const std::string two = g.file("two");
        for (const char *album : {"one", "two", "three"}) {
            make_dir(g.file(album));
            open_to_everyone(g.file(album));
            write_jpeg(g.file(album) + "/x.jpg",
                       {.width = 64, .height = 48, .exif = exif_recipe{.model = "C"}});
        }
        c.plant(two);
        const std::map<std::string, std::string> outside_before = snapshot(outside.path);
        std::vector<std::string> args = c.options;
        args.push_back(g.path);
        const run_result r = run_vistrel_as_nobody(args);
        EXPECT_EQ(r.status, 1);
        // A derived file's temporary name carries the run's own tag.
        const std::string said =
            std::regex_replace(r.err, std::regex(R"(\.[0-9a-f]{8}\.tmp)"), ".<tag>.tmp");
        EXPECT_EQ(said, "vistrel: " + c.message(two) + "vistrel: 1 album could not be made\n");
        const bool quiet = std::ranges::count(c.options, "-q") > 0;
        EXPECT_NE(r.out.find(quiet ? "2 albums, 2 photos: 2 made" : "2 albums processed.\n"),
                  std::string::npos)
            << r.out;
        const std::string page = read_file(g.file("index.html"));
        for (const char *made : {"one", "three"}) {
            EXPECT_NE(page.find(std::string("href=\"") + made + "/index.html\""),
                      std::string::npos);
            EXPECT_TRUE(file_exists(g.file(made) + "/.thumbs/x.jpg")) << made;
            EXPECT_TRUE(file_exists(g.file(made) + "/x.jpg.html")) << made;
        }
        EXPECT_EQ(page.find("two"), std::string::npos) << page;
        for (const char *page_name : {"index.html", "x.jpg.html"})
            EXPECT_FALSE(is_regular_file(two + "/" + page_name)) << page_name;
        EXPECT_EQ(snapshot(outside.path), outside_before);
        chmod(two.c_str(), 0755);
    }
}

}  // namespace

// -C: each album's first image in page order leads to it from the gallery
// page, offering all its derived images by width (ties in the order
// thumbnail, scaled image, then their doubles) for the browser to choose
// from at the card's size; an album without images has neither cover nor
// link.
TEST(gallery, album_covers)
{
    temp_dir g;
    make_dir(g.file("my trip"));
    make_dir(g.file("empty"));
    write_jpeg(g.file("my trip/b.jpg"), {.width = 40, .height = 30});
    write_jpeg(g.file("my trip/Caf\xc3\xa9 1.jpg"), {.width = 1600, .height = 1200});
    write_file(g.file("my trip/.description"), ". Summer\n");
    const auto item = [](const std::string &src, const std::string &srcset,
                         const std::string &size) {
        return "<li class=\"albumitem\"><a href=\"my trip/index.html\"><img class=\"albumcover\" src=\"my trip/" +
               src + "\" srcset=\"" + srcset +
               "\" sizes=\"(max-width: 40em) calc(100vw - 1.5em), 16em\" " + size +
               " loading=\"lazy\" alt=\"\">Summer</a> (2 images)\n";
    };
    const std::string cafe = "Caf%C3%A9%201.jpg";
    const struct {
        std::vector<std::string> options;
        std::string item;
    } cases[] = {
        {{"-C"},
         item(".scaled/Caf%C3%A9 1.jpg",
              "my%20trip/.thumbs/" + cafe + " 128w, my%20trip/.scaled/" + cafe + " 640w",
              "width=\"640\" height=\"480\"")},
        {{"-C", "-s", "size"},
         item(".scaled/b.jpg", "my%20trip/.thumbs/b.jpg 128w, my%20trip/.scaled/b.jpg 640w",
              "width=\"640\" height=\"480\"")},
        // A photograph smaller than the doubles: they are its own size, and
        // the second of one width is left out.
        {{"-C", "-s", "size", "-2"},
         item(".scaled/b.jpg",
              "my%20trip/.thumbs2x/b.jpg 40w, my%20trip/.thumbs/b.jpg 128w, "
              "my%20trip/.scaled/b.jpg 640w",
              "width=\"640\" height=\"480\"")},
        {{"-C", "-2"},
         item(".scaled/Caf%C3%A9 1.jpg",
              "my%20trip/.thumbs/" + cafe + " 128w, my%20trip/.thumbs2x/" + cafe +
                  " 256w, my%20trip/.scaled/" + cafe + " 640w, my%20trip/.scaled2x/" + cafe +
                  " 1280w",
              "width=\"640\" height=\"480\"")},
        // The double thumbnail as wide as the scaled image: offered once.
        {{"-C", "-2", "-h", "240"},
         item(".scaled/Caf%C3%A9 1.jpg",
              "my%20trip/.thumbs/" + cafe + " 320w, my%20trip/.scaled/" + cafe +
                  " 640w, my%20trip/.scaled2x/" + cafe + " 1280w",
              "width=\"640\" height=\"480\"")},
        // Thumbnails higher than the scaled images.
        {{"-C", "-h", "200", "-H", "100"},
         item(".scaled/Caf%C3%A9 1.jpg",
              "my%20trip/.scaled/" + cafe + " 133w, my%20trip/.thumbs/" + cafe + " 267w",
              "width=\"133\" height=\"100\"")},
        {{}, "<li class=\"albumitem\"><a href=\"my trip/index.html\">Summer</a> (2 images)\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back(g.path);
        const run_result r = run_vistrel(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(strip_footer(read_file(g.file("index.html"))),
                  gallery_page("my webgallery",
                               "<li class=\"albumitem\">empty (0 images)\n" + c.item));
    }
}
