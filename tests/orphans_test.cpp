// Orphan removal: which derived files and pages go, which stay, and the
// exact lines it prints, in process and through the binary.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "album/orphans.h"
#include "base/derived_images.h"
#include "support/capture_output.h"
#include "support/run_as_nobody.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

using captured = captured_output;

captured remove_orphans_captured(const std::string &album, const derived_image &kind,
                                 const std::vector<image_info> &images)
{
    return capture_output([&] { remove_orphans(held_dir(album), kind, images); });
}

// What process_album does when orphan removal is on: .scaled, then .thumbs.
captured remove_both(const std::string &album, const std::vector<image_info> &images)
{
    const captured scaled = remove_orphans_captured(album, scaled_image, images);
    const captured thumbs = remove_orphans_captured(album, thumbnail, images);
    return {scaled.out + thumbs.out, scaled.err + thumbs.err};
}

std::vector<image_info> records(const std::vector<std::string> &names)
{
    std::vector<image_info> images;
    for (const std::string &name : names) {
        images.emplace_back();
        images.back().name = name;
        images.back().derived = name;
    }
    return images;
}

class orphans_test : public testing::Test {
protected:
    void SetUp() override
    {
        album = dir.file("trip");
        make_dir(album);
    }
    // Creates the files (and the directories of names ending in a slash).
    void create(const std::vector<std::string> &entries)
    {
        for (const std::string &entry : entries) {
            if (entry.back() == '/')
                make_dir(album + "/" + entry.substr(0, entry.size() - 1));
            else
                write_file(album + "/" + entry, entry);
        }
    }

    temp_dir dir;
    std::string album;
};

struct orphan_case {
    const char *label;
    std::vector<std::string> images;   // the album's images now
    std::vector<std::string> before;   // the album's entries before removal
    std::vector<std::string> deleted;  // in the order the lines come, relative to the album
};

std::ostream &operator<<(std::ostream &os, const orphan_case &c) { return os << c.label; }

class orphan_cases : public orphans_test, public testing::WithParamInterface<orphan_case> {};

TEST_P(orphan_cases, deletes_exactly_the_orphans)
{
    const orphan_case &c = GetParam();
    create(c.before);
    std::vector<std::string> remaining = list_names(album, {.recursive = true});

    const captured result = remove_both(album, records(c.images));

    std::string expected_out;
    for (const std::string &gone : c.deleted) {
        expected_out += "deleted orphan " + album + "/" + gone + "\n";
        std::erase(remaining, gone);
    }
    EXPECT_EQ(result.out, expected_out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(list_names(album, {.recursive = true}), remaining);
}

const std::vector<std::string> cache_dirs{".scaled/", ".thumbs/"};

std::vector<std::string> with_cache_dirs(std::vector<std::string> entries)
{
    entries.insert(entries.begin(), cache_dirs.begin(), cache_dirs.end());
    return entries;
}

INSTANTIATE_TEST_SUITE_P(
    orphans, orphan_cases,
    testing::Values(
        // b.jpg was deleted: its page is reported once, in the .scaled pass.
        orphan_case{"image_deleted",
                    {"a.jpg", "c.jpg"},
                    with_cache_dirs({"a.jpg", "c.jpg", "a.jpg.html", "b.jpg.html", "c.jpg.html",
                                     "index.html", ".scaled/a.jpg", ".scaled/b.jpg",
                                     ".scaled/c.jpg", ".thumbs/a.jpg", ".thumbs/b.jpg",
                                     ".thumbs/c.jpg"}),
                    {".scaled/b.jpg", "b.jpg.html", ".thumbs/b.jpg"}},
        // a.jpg became A.JPG: names compare case-sensitively.
        orphan_case{"image_renamed_to_capitals",
                    {"A.JPG"},
                    with_cache_dirs({"A.JPG", "A.JPG.html", "a.jpg.html", "index.html",
                                     ".scaled/a.jpg", ".scaled/A.JPG", ".thumbs/a.jpg",
                                     ".thumbs/A.JPG"}),
                    {".scaled/a.jpg", "a.jpg.html", ".thumbs/a.jpg"}},
        orphan_case{"only_the_thumbnail_left",
                    {"a.jpg"},
                    with_cache_dirs({"a.jpg", "gone.jpeg.html", ".scaled/a.jpg", ".thumbs/a.jpg",
                                     ".thumbs/gone.jpeg"}),
                    {".thumbs/gone.jpeg", "gone.jpeg.html"}},
        orphan_case{"extension_in_any_case",
                    {"a.jpg"},
                    with_cache_dirs({"a.jpg", ".scaled/old.JpEg", ".scaled/a.jpg"}),
                    {".scaled/old.JpEg"}},
        // Neither derived file is left: the page is nobody's to delete here.
        orphan_case{"page_without_derived_files_stays",
                    {"a.jpg"},
                    with_cache_dirs({"a.jpg", "a.jpg.html", "vanished.jpg.html", ".scaled/a.jpg"}),
                    {}}),
    [](const testing::TestParamInfo<orphan_case> &test) { return std::string(test.param.label); });

// Only regular files with a JPEG extension are candidates, by the listing's
// own entry type: leftovers, other extensions, directories and links stay,
// and so do thumbnail index pages.
TEST_F(orphans_test, never_deletes_non_candidates)
{
    create(with_cache_dirs(
        {"index.html", "index2.html", "index3.html", ".scaled/a.jpg.tmp", ".scaled/a.jpg.tmp.html",
         ".scaled/notes.txt", ".scaled/jpg", ".scaled/a.jpe", ".scaled/a.", ".scaled/sub.jpg/",
         ".scaled/sub.jpg/inner.jpg", ".thumbs/b.jpg.gz", "a.jpg.tmp.html", "target.txt",
         "sub.jpg.html", "link.jpg.html", "dangling.jpg.html", "fifo.jpg.html"}));
    ASSERT_EQ(symlink("../target.txt", (album + "/.scaled/link.jpg").c_str()), 0);
    ASSERT_EQ(symlink("../nowhere", (album + "/.thumbs/dangling.jpg").c_str()), 0);
    ASSERT_EQ(mkfifo((album + "/.thumbs/fifo.jpg").c_str(), 0600), 0);
    const std::vector<std::string> before = list_names(album, {.recursive = true});

    const captured result = remove_both(album, {});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(list_names(album, {.recursive = true}), before);
}

// An album without images: every candidate is an orphan. Several orphans
// come in listing order, each followed by its page when that is still there.
TEST_F(orphans_test, album_without_images_loses_every_candidate)
{
    create(with_cache_dirs({"x.jpg.html", "y.jpg.html", "index.html", ".scaled/x.jpg",
                            ".scaled/y.jpg", ".thumbs/x.jpg", ".thumbs/y.jpg", ".thumbs/z.JPEG"}));

    const captured scaled = remove_orphans_captured(album, scaled_image, {});
    const captured thumbs = remove_orphans_captured(album, thumbnail, {});
    EXPECT_EQ(scaled.err + thumbs.err, "");

    auto lines = [](const std::string &text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) out.push_back(line);
        std::sort(out.begin(), out.end());
        return out;
    };
    const std::string p = "deleted orphan " + album + "/";
    EXPECT_EQ(lines(scaled.out), (std::vector<std::string>{p + ".scaled/x.jpg", p + ".scaled/y.jpg",
                                                           p + "x.jpg.html", p + "y.jpg.html"}));
    EXPECT_EQ(lines(thumbs.out), (std::vector<std::string>{p + ".thumbs/x.jpg", p + ".thumbs/y.jpg",
                                                           p + ".thumbs/z.JPEG"}));
    // Within the output each page line directly follows its derived file's.
    EXPECT_NE(scaled.out.find(p + ".scaled/x.jpg\n" + p + "x.jpg.html\n"), std::string::npos);
    EXPECT_NE(scaled.out.find(p + ".scaled/y.jpg\n" + p + "y.jpg.html\n"), std::string::npos);
    EXPECT_EQ(list_names(album, {.recursive = true}),
              (std::vector<std::string>{".scaled/", ".thumbs/", "index.html"}));
}

TEST_F(orphans_test, missing_directory_is_reported_on_stdout)
{
    const captured result = remove_both(album, {});
    EXPECT_EQ(result.out,
              "can't opendir(" + album + "/.scaled)\ncan't opendir(" + album + "/.thumbs)\n");
    EXPECT_EQ(result.err, "");
}

// A derived file that cannot be deleted is reported on standard error, with
// no program name; its page still goes, and the run goes on. Root may
// unlink anything, so the run is made as an unprivileged user, for whom
// root's .scaled is read-only.
TEST_F(orphans_test, unlink_failure_is_reported_and_the_run_goes_on)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to make a directory another user cannot change";
    open_to_everyone(dir.path);
    create(with_cache_dirs({"x.jpg.html", ".scaled/x.jpg", ".thumbs/y.jpg"}));
    for (const std::string &path : {album, album + "/.thumbs"}) chmod(path.c_str(), 0777);
    chmod((album + "/.scaled").c_str(), 0755);

    const run_result r = run_vistrel_as_nobody({dir.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "can't unlink(" + album + "/.scaled/x.jpg)\n");
    EXPECT_EQ(r.out, "Directory " + album + "\ndeleted orphan " + album +
                         "/x.jpg.html\ndeleted orphan " + album +
                         "/.thumbs/y.jpg\n0 images processed in album '" + album +
                         "'.\n1 album processed.\n");
    EXPECT_TRUE(file_exists(album + "/.scaled/x.jpg"));
}

// Through the binary: an album whose images are all gone loses its derived
// files and pages, an album that never had any reports both directories,
// and -o leaves everything alone and prints nothing of it.
TEST_F(orphans_test, end_to_end)
{
    const std::string gallery = dir.file("g");
    make_dir(gallery);
    make_dir(gallery + "/emptied");
    make_dir(gallery + "/emptied/.scaled");
    make_dir(gallery + "/emptied/.thumbs");
    write_file(gallery + "/emptied/old.jpg.html", "page");
    write_file(gallery + "/emptied/index.html", "index");
    write_file(gallery + "/emptied/.scaled/old.jpg", "scaled");
    write_file(gallery + "/emptied/.thumbs/old.jpg", "thumb");
    make_dir(gallery + "/never");

    const run_result kept = run_vistrel({"-o", gallery});
    EXPECT_EQ(kept.status, 0);
    EXPECT_EQ(kept.out, "Directory " + gallery + "/emptied\n0 images processed in album '" +
                            gallery + "/emptied'.\nDirectory " + gallery +
                            "/never\n0 images processed in album '" + gallery +
                            "/never'.\n2 albums processed.\n");
    EXPECT_EQ(kept.err, "");
    EXPECT_TRUE(file_exists(gallery + "/emptied/.scaled/old.jpg"));
    EXPECT_TRUE(file_exists(gallery + "/emptied/old.jpg.html"));

    const run_result cleaned = run_vistrel({gallery});
    EXPECT_EQ(cleaned.status, 0);
    // One line of output per line; the formatter leaves it so.
    // clang-format off
    EXPECT_EQ(cleaned.out, "Directory " + gallery + "/emptied\n"
                           "deleted orphan " + gallery + "/emptied/.scaled/old.jpg\n"
                           "deleted orphan " + gallery + "/emptied/old.jpg.html\n"
                           "deleted orphan " + gallery + "/emptied/.thumbs/old.jpg\n"
                           "0 images processed in album '" + gallery + "/emptied'.\n"
                           "Directory " + gallery + "/never\n"
                           "can't opendir(" + gallery + "/never/.scaled)\n"
                           "can't opendir(" + gallery + "/never/.thumbs)\n"
                           "0 images processed in album '" + gallery + "/never'.\n"
                           "2 albums processed.\n");
    // clang-format on
    EXPECT_EQ(cleaned.err, "");
    EXPECT_EQ(list_names(gallery + "/emptied", {.recursive = true}),
              (std::vector<std::string>{".scaled/", ".thumbs/", "index.html"}));
}

}  // namespace
