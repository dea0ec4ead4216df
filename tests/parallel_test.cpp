// -j N: the same files, the same output and the same exit status as one
// thread, whatever the threads do meanwhile.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "support/gallery_snapshot.h"
#include "support/jpeg_fixture.h"
#include "support/run_as_nobody.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A gallery of many images of several kinds, a truncated one that makes
// libjpeg warn, some without EXIF.
void fill_gallery(const std::string &root, bool with_broken)
{
    for (const char *album : {"a", "b"}) make_dir(root + "/" + album);
    for (int i = 0; i < 14; ++i) {
        jpeg_recipe recipe{.width = 300 + 37 * i, .height = 200 + 11 * i, .seed = uint32_t(i)};
        recipe.components = i % 5 == 0 ? 1 : 3;
        if (i % 3 == 0) recipe.exif = exif_recipe{.model = "Camera " + std::to_string(i)};
        write_jpeg(root + "/a/img" + std::to_string(i) + ".jpg", recipe);
    }
    std::vector<uint8_t> cut = make_jpeg({.width = 500, .height = 400, .seed = 99});
    cut.resize(cut.size() * 2 / 3);
    write_file(root + "/a/cut.jpg", std::string(cut.begin(), cut.end()));
    for (int i = 0; i < 5; ++i)
        write_jpeg(root + "/b/p" + std::to_string(i) + ".jpg",
                   {.width = 120, .height = 160, .seed = uint32_t(40 + i)});
    if (with_broken) {
        write_file(root + "/a/img5.jpg", "not a jpeg");
        write_file(root + "/a/img9.jpg", "neither is this");
    }
}

// Everything a run wrote: cache directories, pages, leftovers.
void remove_outputs(const std::string &root)
{
    std::vector<fs::path> made;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name == ".scaled" || name == ".thumbs" || name.ends_with(".html") ||
            name.ends_with(".tmp"))
            made.push_back(entry.path());
    }
    for (const fs::path &path : made) fs::remove_all(path);
}

void expect_same_as_one_thread(bool with_broken)
{
    // One gallery for both runs: the listing order decides the order of
    // work, and a second directory need not list its entries alike.
    temp_dir g;
    fill_gallery(g.path, with_broken);
    const run_result r1 = run_vistrel({"-j", "1", g.path});
    const std::map<std::string, std::string> files1 = snapshot(g.path);
    remove_outputs(g.path);
    const run_result rn = run_vistrel({"-j", "3", g.path});
    EXPECT_EQ(r1.status, with_broken ? 1 : 0);
    EXPECT_EQ(rn.status, r1.status);
    EXPECT_EQ(rn.out, r1.out);
    EXPECT_EQ(rn.err, r1.err);
    if (!with_broken) {
        EXPECT_EQ(snapshot(g.path), files1);
        EXPECT_NE(r1.err.find("Premature end of JPEG file"), std::string::npos);
    }
}

TEST(parallel, same_files_and_output_as_one_thread) { expect_same_as_one_thread(false); }

TEST(parallel, first_failure_in_order_is_the_one_reported) { expect_same_as_one_thread(true); }

}  // namespace

namespace {

// A photograph that decodes, one that is no JPEG file at all, and one cut
// short that decodes with libjpeg's warning: whichever thread finishes
// first, a run that fails leaves the files and messages one thread leaves,
// and no derived file whose warning was not printed.
TEST(parallel, a_failed_run_leaves_what_one_thread_leaves)
{
    temp_dir g;
    const std::string album = g.path + "/a";
    make_dir(album);
    write_jpeg(album + "/good.jpg", {.width = 640, .height = 480, .seed = 7});
    write_file(album + "/notajpeg.jpg", "not a jpeg at all");
    std::vector<uint8_t> cut = make_jpeg({.width = 1600, .height = 1200, .seed = 11});
    ASSERT_GT(cut.size(), 20000u);
    cut.resize(20000);
    write_file(album + "/truncated.jpg", std::string(cut.begin(), cut.end()));

    const run_result one = run_vistrel({"-j", "1", g.path});
    const std::map<std::string, std::string> files_one = snapshot(g.path);
    EXPECT_EQ(one.status, 1);
    for (int round = 0; round < 4; ++round) {
        for (const char *jobs : {"1", "2", "4"}) {
            SCOPED_TRACE(std::string("-j ") + jobs + ", round " + std::to_string(round));
            remove_outputs(g.path);
            const run_result r = run_vistrel({"-j", jobs, g.path});
            EXPECT_EQ(r.status, one.status);
            EXPECT_EQ(r.out, one.out);
            EXPECT_EQ(r.err, one.err);
            EXPECT_EQ(snapshot(g.path), files_one);
        }
    }
    // A derived file is kept only with its warning printed.
    if (file_exists(album + "/.scaled/truncated.jpg")) {
        EXPECT_NE(one.err.find("truncated.jpg: Premature end of JPEG file"), std::string::npos);
    }
}

}  // namespace

namespace {

// Threads that cannot be started (the user's process limit) leave their
// jobs to those that could, or to the run's own thread when none could:
// the same files and output, after one warning for the whole run.
TEST(parallel, threads_that_cannot_start_leave_their_jobs_to_the_others)
{
    temp_dir g;
    open_to_everyone(g.path);
    for (const char *album : {"a", "b"}) {
        make_dir(g.path + "/" + album);
        open_to_everyone(g.path + "/" + album);
        for (int i = 0; i < 6; ++i)
            write_jpeg(g.path + "/" + album + "/p" + std::to_string(i) + ".jpg",
                       {.width = 200 + 40 * i, .height = 150, .seed = uint32_t(i)});
    }
    const run_result one = run_vistrel_with_process_limit({"-j", "1", g.path}, RLIM_INFINITY);
    ASSERT_EQ(one.status, 0) << one.err;
    const std::map<std::string, std::string> files_one = snapshot(g.path);
    const struct {
        rlim_t processes;  // the run's own process counts
        int most;          // threads it can start; a sanitizer's own may take one
    } cases[] = {{1, 0}, {3, 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.processes);
        // Only a user of its own counts no other processes.
        if (c.most > 0 && geteuid() != 0) continue;
        remove_outputs(g.path);
        const run_result r = run_vistrel_with_process_limit({"-j", "8", g.path}, c.processes);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, one.out);
        std::smatch warning;
        ASSERT_TRUE(std::regex_search(r.err, warning,
                                      std::regex("^vistrel: could start only ([0-9]) of 6 threads: "
                                                 "Resource temporarily unavailable\n")))
            << r.err;
        const int started = std::stoi(warning[1]);
        EXPECT_LE(started, c.most);
        EXPECT_GE(started, std::min(c.most, 1));
        EXPECT_EQ(warning.suffix().str(), one.err);
        EXPECT_EQ(snapshot(g.path), files_one);
    }
}

}  // namespace
