// -j N: the same files, the same output and the same exit status as one
// thread, whatever the threads do meanwhile.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Every file of the gallery and its bytes; the footer's time is blanked.
std::map<std::string, std::string> snapshot(const std::string &root)
{
    static const std::regex when("generated [^\n]*\n with");
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] =
                std::regex_replace(read_file(entry.path().string()), when, "generated WHEN with");
    return files;
}

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
