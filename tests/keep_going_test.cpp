// -k: a photograph that cannot be read is reported, left out of the pages
// and tried again by the next run; the run goes on and ends with status 1.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

std::string bytes_of(const std::vector<uint8_t> &data) { return {data.begin(), data.end()}; }

// An album of good photographs and bad ones: a file that is no JPEG, one
// cut inside its header (unreadable), and one cut inside its picture data
// (readable, with libjpeg's warning).
void fill_album(const std::string &album)
{
    make_dir(album);
    const exif_recipe exif{.model = "X"};
    write_jpeg(album + "/a_good.jpg", {.width = 200, .height = 150, .seed = 1, .exif = exif});
    write_file(album + "/b_notajpeg.jpg", "not a jpeg at all\n");
    const std::vector<uint8_t> whole =
        make_jpeg({.width = 400, .height = 300, .seed = 2, .exif = exif});
    write_file(album + "/c_headless.jpg", bytes_of(whole).substr(0, 100));
    write_file(album + "/d_truncated.jpg", bytes_of(whole).substr(0, whole.size() / 2));
    write_jpeg(album + "/e_good.jpg", {.width = 150, .height = 200, .seed = 3, .exif = exif});
}

TEST(keep_going, unreadable_photos_are_left_out_at_every_j)
{
    std::string first_err;
    for (const char *jobs : {"1", "4", "1", "4"}) {
        temp_dir gallery;
        const std::string album = gallery.file("album");
        fill_album(album);
        const run_result r = run_vistrel({"-k", "-j", jobs, gallery.path});
        EXPECT_EQ(r.status, 1) << r.err;
        // Each message in its place, the same at every -j; a photograph
        // left out says so, unlike one kept with a warning; the names last.
        const std::string prefix = "vistrel: " + album + "/";
        const std::string left = "vistrel: left out " + album + "/";
        EXPECT_NE(r.err.find(left + "b_notajpeg.jpg: Not a JPEG file: starts with 0x6e 0x6f\n"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(left + "c_headless.jpg: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(prefix + "d_truncated.jpg: Premature end of JPEG file\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find(left + "d_truncated.jpg"), std::string::npos) << r.err;
        const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
        EXPECT_TRUE(last.starts_with("vistrel: 2 photos could not be read and were left out: "))
            << last;
        for (const char *name : {"album/b_notajpeg.jpg", "album/c_headless.jpg"})
            EXPECT_NE(last.find(name), std::string::npos) << last;
        // The gallery's name aside, the same messages in the same order.
        std::string err;
        for (size_t at = 0; at < r.err.size();) {
            const size_t found = r.err.find(gallery.path, at);
            err += r.err.substr(at, found - at);
            if (found == std::string::npos) break;
            err += "G";
            at = found + gallery.path.size();
        }
        if (first_err.empty()) first_err = err;
        EXPECT_EQ(err, first_err) << "-j " << jobs;
        EXPECT_NE(r.out.find("3 images processed in album '" + album + "'.\n"), std::string::npos)
            << r.out;

        // The pages show the readable photographs only.
        const std::string index = read_file(album + "/index.html");
        for (const char *shown : {"a_good.jpg", "d_truncated.jpg", "e_good.jpg"}) {
            EXPECT_NE(index.find(shown), std::string::npos) << shown;
            EXPECT_TRUE(file_exists(album + "/" + shown + ".html")) << shown;
            EXPECT_TRUE(file_exists(album + "/.scaled/" + shown)) << shown;
        }
        for (const char *left_out : {"b_notajpeg.jpg", "c_headless.jpg"}) {
            EXPECT_EQ(index.find(left_out), std::string::npos) << left_out;
            EXPECT_FALSE(file_exists(album + "/" + left_out + ".html")) << left_out;
            EXPECT_FALSE(file_exists(album + "/.scaled/" + left_out)) << left_out;
            EXPECT_FALSE(file_exists(album + "/.thumbs/" + left_out)) << left_out;
        }
        EXPECT_NE(read_file(gallery.file("index.html")).find("(3 images)"), std::string::npos);

        // Repaired, the photograph is derived by the next run.
        write_jpeg(album + "/b_notajpeg.jpg", {.width = 120, .height = 90, .seed = 4});
        write_jpeg(album + "/c_headless.jpg", {.width = 120, .height = 90, .seed = 5});
        const run_result again = run_vistrel({"-k", "-j", jobs, gallery.path});
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(again.err.find("could not be read"), std::string::npos) << again.err;
        EXPECT_TRUE(file_exists(album + "/.scaled/b_notajpeg.jpg"));
        EXPECT_TRUE(file_exists(album + "/.thumbs/c_headless.jpg"));
        EXPECT_NE(read_file(album + "/index.html").find("b_notajpeg.jpg"), std::string::npos);
    }
}

TEST(keep_going, a_photo_that_turns_unreadable_loses_its_derived_files)
{
    temp_dir gallery;
    const std::string album = gallery.file("album");
    make_dir(album);
    write_jpeg(album + "/a.jpg", {.width = 120, .height = 90, .seed = 1});
    write_jpeg(album + "/b.jpg", {.width = 120, .height = 90, .seed = 2});
    ASSERT_EQ(run_vistrel({gallery.path}).status, 0);
    write_file(album + "/b.jpg", "damaged");
    set_mtime(album + "/b.jpg", mtime_of(album + "/.scaled/b.jpg") + 10);

    const run_result r = run_vistrel({"-k", "-q", gallery.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.starts_with("deleted orphan " + album + "/.scaled/b.jpg\ndeleted orphan " +
                                  album + "/b.jpg.html\ndeleted orphan " + album +
                                  "/.thumbs/b.jpg\n"))
        << r.out;
    EXPECT_NE(r.out.find("1 album, 1 photo: 0 made, 1 fresh, 3 deleted"), std::string::npos)
        << r.out;
    EXPECT_TRUE(
        r.err.ends_with("vistrel: left out " + album +
                        "/b.jpg: Not a JPEG file: starts with 0x64 0x61\n"
                        "vistrel: 1 photo could not be read and was left out: album/b.jpg\n"))
        << r.err;
}

TEST(keep_going, without_k_an_unreadable_photo_ends_the_run)
{
    temp_dir gallery;
    const std::string album = gallery.file("album");
    make_dir(album);
    write_jpeg(album + "/a_good.jpg", {.width = 200, .height = 150, .seed = 1});
    write_file(album + "/b_notajpeg.jpg", "not a jpeg at all\n");
    const run_result r = run_vistrel({gallery.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with("vistrel: " + album +
                                "/b_notajpeg.jpg: Not a JPEG file: starts with 0x6e 0x6f\n"
                                "use -k to leave unreadable photos out and make the rest\n"))
        << r.err;
    EXPECT_FALSE(file_exists(album + "/index.html"));
}

// The closing line names the photographs left out, a few of them, in
// every run that derives: the whole run and a part, one album or several.
TEST(keep_going, the_last_line_names_what_was_left_out)
{
    const struct {
        int per_album;  // unreadable photographs in each of two albums
        std::vector<std::string> args;
        std::string last;
    } cases[] = {
        {1,
         {"-k"},
         "vistrel: 2 photos could not be read and were left out: a/bad0.jpg, b/bad0.jpg\n"},
        {1,
         {"-k", "-p", "1/1"},
         "vistrel: 2 photos could not be read and were left out: a/bad0.jpg, b/bad0.jpg\n"},
        {3,
         {"-k", "-j", "1"},
         "vistrel: 6 photos could not be read and were left out: a/bad0.jpg, a/bad1.jpg, "
         "a/bad2.jpg, b/bad0.jpg, b/bad1.jpg and 1 more, each on its line 'left out'\n"},
    };
    for (const auto &c : cases) {
        temp_dir gallery;
        for (const char *album : {"a", "b"}) {
            make_dir(gallery.file(album));
            write_jpeg(gallery.file(std::string(album) + "/good.jpg"), {.width = 64, .height = 48});
            for (int i = 0; i < c.per_album; ++i)
                write_file(gallery.file(std::string(album) + "/bad" + std::to_string(i) + ".jpg"),
                           "broken");
        }
        std::vector<std::string> args = c.args;
        args.push_back(gallery.path);
        const run_result r = run_vistrel(args);
        EXPECT_EQ(r.status, 1) << c.args.size();
        std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
        // Within an album the photographs come in listing order.
        if (c.per_album == 1) {
            EXPECT_EQ(last, c.last) << r.err;
        }
        EXPECT_TRUE(last.ends_with(c.last.substr(
            c.last.find(" and ") == std::string::npos ? c.last.size() : c.last.rfind(" and "))))
            << r.err;
        size_t lines = 0;
        for (size_t at = 0; (at = r.err.find("vistrel: left out ", at)) != std::string::npos; ++at)
            ++lines;
        EXPECT_EQ(lines, 2u * static_cast<size_t>(c.per_album)) << r.err;
    }
}

TEST(keep_going, a_failure_that_is_not_a_photos_still_ends_the_run)
{
    temp_dir gallery;
    const std::string album = gallery.file("album");
    fill_album(album);
    // Where the gallery's page is written: the gallery's own, not an album's.
    make_dir(gallery.file("index.html.tmp"));
    const run_result r = run_vistrel({"-k", gallery.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with("vistrel: can't fopen(" + gallery.file("index.html.tmp") +
                                "): Is a directory\n"))
        << r.err;
    EXPECT_EQ(r.err.find("could not be read"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(gallery.file("index.html")));
}

}  // namespace
