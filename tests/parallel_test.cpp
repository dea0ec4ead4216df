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

// Two copies of one gallery: many images of several kinds, a truncated one
// that makes libjpeg warn, some without EXIF.
void fill_gallery(const std::string &root, bool with_broken)
{
    for (const char *album : {"a", "b"}) make_dir(root + "/" + album);
    for (int i = 0; i < 14; ++i) {
        fixture_spec spec{.width = 300 + 37 * i, .height = 200 + 11 * i, .seed = uint32_t(i)};
        spec.components = i % 5 == 0 ? 1 : 3;
        if (i % 3 == 0) spec.exif = fixture_exif{.model = "Camera " + std::to_string(i)};
        write_jpeg(root + "/a/img" + std::to_string(i) + ".jpg", spec);
    }
    std::vector<uint8_t> cut = make_jpeg({.width = 500, .height = 400, .seed = 99});
    cut.resize(cut.size() * 2 / 3);
    write_file(root + "/a/cut.jpg", std::string(cut.begin(), cut.end()));
    for (int i = 0; i < 5; ++i)
        write_jpeg(root + "/b/p" + std::to_string(i) + ".jpg", {.width = 120, .height = 160, .seed = uint32_t(40 + i)});
    if (with_broken) {
        write_file(root + "/a/img5.jpg", "not a jpeg");
        write_file(root + "/a/img9.jpg", "neither is this");
    }
}

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

void expect_same_as_one_thread(bool with_broken)
{
    temp_dir one, many;
    fill_gallery(one.path, with_broken);
    fill_gallery(many.path, with_broken);
    // The listing order decides the order of work; both copies must agree.
    const run_result r1 = run_vistrel({"-j", "1", one.path});
    const run_result rn = run_vistrel({"-j", "3", many.path});
    EXPECT_EQ(r1.status, with_broken ? 1 : 0);
    EXPECT_EQ(rn.status, r1.status);
    EXPECT_EQ(replace_all(rn.out, many.path, "G"), replace_all(r1.out, one.path, "G"));
    EXPECT_EQ(replace_all(rn.err, many.path, "G"), replace_all(r1.err, one.path, "G"));
    if (!with_broken) {
        EXPECT_EQ(snapshot(many.path), snapshot(one.path));
        EXPECT_NE(r1.err.find("Premature end of JPEG file"), std::string::npos);
    }
}

TEST(parallel, same_files_and_output_as_one_thread)
{
    expect_same_as_one_thread(false);
}

TEST(parallel, first_failure_in_order_is_the_one_reported)
{
    expect_same_as_one_thread(true);
}

}  // namespace
