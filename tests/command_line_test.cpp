// The command line, end to end: what the binary writes and how it exits.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "base/settings.h"
#include "run/options.h"
#include "support/gallery_snapshot.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"
#include "support/usage_text.h"

namespace {

std::string invalid(const std::string &option, const std::string &arg)
{
    return "vistrel: invalid argument '-" + option + " " + arg + "'\n";
}

struct rejected_case {
    std::vector<std::string> args;
    std::string message;  // before the usage text
    usage_values shown;   // what the usage text shows
};

void PrintTo(const rejected_case &c, std::ostream *os)
{
    for (const std::string &arg : c.args) *os << '[' << arg << ']';
}

// Named for its area, so that the instantiations' names carry it too.
class command_line_rejected : public testing::TestWithParam<rejected_case> {};

TEST_P(command_line_rejected, writes_message_then_usage_and_exits_1)
{
    const rejected_case &c = GetParam();
    temp_dir gallery;
    std::vector<std::string> args = c.args;
    args.push_back(gallery.path);
    const run_result r = run_vistrel(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message + usage_then_hint(c.shown));
    EXPECT_FALSE(file_exists(gallery.file("index.html")));
}

// The value strtol stored is kept even when the argument is refused, and
// the usage text shows it.
INSTANTIATE_TEST_SUITE_P(
    numeric_arguments, command_line_rejected,
    testing::Values(rejected_case{{"-c", "0"}, invalid("c", "0"), {.columns = 0}},
                    rejected_case{{"-c", "-4"}, invalid("c", "-4"), {.columns = -4}},
                    rejected_case{{"-c", ""}, invalid("c", ""), {.columns = 0}},
                    rejected_case{{"-c", "4x"}, invalid("c", "4x"), {.columns = 4}},
                    rejected_case{{"-c", "x"}, invalid("c", "x"), {.columns = 0}},
                    rejected_case{{"-c", "4 "}, invalid("c", "4 "), {.columns = 4}},
                    rejected_case{{"-cx"}, invalid("c", "x"), {.columns = 0}},
                    rejected_case{{"-r", "0"}, invalid("r", "0"), {.rows = 0}},
                    rejected_case{{"-h", "0"}, invalid("h", "0"), {.thumb_height = 0}},
                    rejected_case{{"-H", "-1"}, invalid("H", "-1"), {.scaled_height = -1}},
                    rejected_case{
                        {"-H", "4294967296"}, invalid("H", "4294967296"), {.scaled_height = 0}},
                    rejected_case{{"-j", "0"}, invalid("j", "0"), {}}));

// Options take effect left to right; the usage text after a later refusal
// shows what the earlier ones set.
INSTANTIATE_TEST_SUITE_P(
    accepted_then_refused, command_line_rejected,
    testing::Values(
        rejected_case{{"-c", "+4", "-r", "x"}, invalid("r", "x"), {.columns = 4, .rows = 0}},
        rejected_case{{"-c", " 4", "-r", "x"}, invalid("r", "x"), {.columns = 4, .rows = 0}},
        rejected_case{{"-c5", "-h", "50", "-H", "0"},
                      invalid("H", "0"),
                      {.columns = 5, .thumb_height = 50, .scaled_height = 0}},
        rejected_case{
            {"-c", "2", "-c", "9", "-r", "0"}, invalid("r", "0"), {.columns = 9, .rows = 0}},
        rejected_case{{"-d", "<b>Trips</b>", "-c", "0"},
                      invalid("c", "0"),
                      {.columns = 0, .title = "<b>Trips</b>"}},
        rejected_case{{"-d", "", "-c", "0"}, invalid("c", "0"), {.columns = 0, .title = ""}},
        rejected_case{{"-fleEDo", "-c", "0"}, invalid("c", "0"), {.columns = 0}}));

INSTANTIATE_TEST_SUITE_P(
    sort_order, command_line_rejected,
    testing::Values(rejected_case{{"-s", "Name"}, invalid("s", "Name"), {}},
                    rejected_case{{"-s", "sizes"}, invalid("s", "sizes"), {}},
                    rejected_case{{"-s", ""}, invalid("s", ""), {}},
                    rejected_case{{"-s", "mtime", "-s", "MTIME"}, invalid("s", "MTIME"), {}}));

// -p K/N: two whole numbers, 1 <= K <= N.
INSTANTIATE_TEST_SUITE_P(
    part_argument, command_line_rejected,
    testing::Values(rejected_case{{"-p", "0/4"}, invalid("p", "0/4"), {}},
                    rejected_case{{"-p", "5/4"}, invalid("p", "5/4"), {}},
                    rejected_case{{"-p", "4"}, invalid("p", "4"), {}},
                    rejected_case{{"-p", "a/b"}, invalid("p", "a/b"), {}},
                    rejected_case{{"-p", "1/0"}, invalid("p", "1/0"), {}},
                    rejected_case{{"-p", "1/"}, invalid("p", "1/"), {}},
                    rejected_case{{"-p", "/4"}, invalid("p", "/4"), {}},
                    rejected_case{{"-p", "1/4x"}, invalid("p", "1/4x"), {}},
                    rejected_case{{"-p", "-1/4"}, invalid("p", "-1/4"), {}},
                    rejected_case{{"-p", "1/+4"}, invalid("p", "1/+4"), {}},
                    rejected_case{{"-p", " 1/4"}, invalid("p", " 1/4"), {}},
                    rejected_case{{"-p", "1/4294967297"}, invalid("p", "1/4294967297"), {}},
                    rejected_case{{"-p", ""}, invalid("p", ""), {}}));

// glibc's getopt speaks for itself; the usage text follows.
INSTANTIATE_TEST_SUITE_P(getopt_diagnostics, command_line_rejected,
                         testing::Values(rejected_case{{"-r", "7", "-y"},
                                                       "vistrel: invalid option -- 'y'\n",
                                                       {.rows = 7}},
                                         rejected_case{
                                             {"-x"}, "vistrel: invalid option -- 'x'\n", {}}));

TEST(command_line, missing_option_argument_is_getopts_diagnostic_then_usage)
{
    for (const char *option : {"-c", "-d", "-h", "-H", "-p", "-r", "-s"}) {
        const run_result r = run_vistrel({option});
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_EQ(r.err, std::string("vistrel: option requires an argument -- '") + (option + 1) +
                             "'\n" + usage_then_hint())
            << option;
    }
}

TEST(command_line, wrong_operand_count_writes_usage_and_why_options_came_too_late)
{
    temp_dir gallery;
    const std::string late = "vistrel: '-f' after the gallery: options come before the gallery\n";
    const struct {
        std::vector<std::string> args;
        std::string message;  // before the usage text
    } cases[] = {
        {{}, ""},
        {{"a", "b"}, ""},
        {{"-f", gallery.path, gallery.path}, ""},
        {{"--"}, ""},
        {{"a", "-"}, ""},  // "-" is a name, not an option
        // Words after the operand are operands, and an option there is told so.
        {{gallery.path, "-f"}, late},
        {{"-c", "4", gallery.path, "x", "-f", "-q"}, late},
        {{"--", gallery.path, "-f"}, late},
        {{gallery.path, "--help"},
         "vistrel: '--help' after the gallery: options come before the gallery\n"},
    };
    for (const auto &c : cases) {
        std::string shown;
        for (const std::string &arg : c.args) shown += "[" + arg + "]";
        const run_result r = run_vistrel(c.args);
        EXPECT_EQ(r.status, 1) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_EQ(r.err, c.message + usage_then_hint(c.args.size() > 1 && c.args[0] == "-c"
                                                         ? usage_values{.columns = 4}
                                                         : usage_values{}))
            << shown;
    }
    EXPECT_FALSE(file_exists(gallery.file("index.html")));
}

TEST(command_line, double_dash_ends_the_options)
{
    temp_dir parent;
    const std::string gallery = parent.file("-f");
    make_dir(gallery);
    const run_result r = run_vistrel({"--", gallery});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(file_exists(gallery + "/index.html"));
}

TEST(command_line, version_ends_the_run_at_once)
{
    const std::vector<std::vector<std::string>> cases = {
        {"-v"}, {"-v", "a", "b"}, {"-v", "-c", "0"}, {"-d", "any title", "-v"}, {"-flv"},
    };
    for (const auto &args : cases) {
        const run_result r = run_vistrel(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string("vistrel version ") + VISTREL_VERSION + "\n");
    }
    const run_result refused_first = run_vistrel({"-c", "0", "-v"});
    EXPECT_EQ(refused_first.status, 1);
    EXPECT_EQ(refused_first.err, invalid("c", "0") + usage_then_hint({.columns = 0}));
}

TEST(command_line, messages_carry_the_program_name_as_invoked)
{
    const run_result r = run_program("./some/where/vistrel", {"-c", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
              "./some/where/vistrel: invalid argument '-c 0'\n");
}

TEST(command_line, valid_options_run_the_gallery)
{
    temp_dir gallery;
    const run_result r =
        run_vistrel({"-c", "+4", "-r", " 2", "-h50", "-H", "300", "-s", "mtime", "-e", "-E", "-D",
                     "-fl", "-o", "-j", "2", "-d", "T", gallery.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0 albums processed.\n");
    EXPECT_EQ(r.err, "");
}

// --help and --version, GNU's two, are whole words where an option may
// stand; nothing else is a long option.
struct long_option_case {
    std::vector<std::string> args;
    int status;
    std::string out_starts;  // what standard output starts with
    std::string err;
};

TEST(command_line, help_and_version_are_the_only_long_options)
{
    const std::string help = "Usage: vistrel [options] /path/to/gallery\n";
    const std::string version = std::string("vistrel ") + VISTREL_VERSION + "\n";
    const long_option_case cases[] = {
        {{"--help"}, 0, help, ""},
        {{"--help", "gallery", "more"}, 0, help, ""},
        {{"-f", "-c", "4", "--help"}, 0, help, ""},
        {{"--version"}, 0, version, ""},
        {{"-qk", "--version", "--help"}, 0, version, ""},
        // Still checked left to right: a refused option before it wins.
        {{"-c", "0", "--help"}, 1, "", invalid("c", "0") + usage_then_hint({.columns = 0})},
        // Any other long option names itself.
        {{"--hel"}, 1, "", "vistrel: unrecognized option '--hel'\n" + usage_then_hint()},
        {{"--verbose"}, 1, "", "vistrel: unrecognized option '--verbose'\n" + usage_then_hint()},
        {{"-c", "3", "--help=x"},
         1,
         "",
         "vistrel: unrecognized option '--help=x'\n" + usage_then_hint({.columns = 3})},
        // An option's argument is no option, whatever it starts with.
        {{"-d", "--hel", "--version"}, 0, version, ""},
        // Not a long option: what getopt makes of it.
        {{"-help"}, 1, "", invalid("h", "elp") + usage_then_hint({.thumb_height = 0})},
        {{"gallery", "--help"},
         1,
         "",
         "vistrel: '--help' after the gallery: options come before the gallery\n" +
             usage_then_hint()},
    };
    for (const long_option_case &c : cases) {
        std::string shown;
        for (const std::string &arg : c.args) shown += "[" + arg + "]";
        const run_result r = run_vistrel(c.args);
        EXPECT_EQ(r.status, c.status) << shown;
        EXPECT_TRUE(r.out.starts_with(c.out_starts)) << shown << r.out;
        if (c.out_starts.empty()) {
            EXPECT_EQ(r.out, "") << shown;
        }
        EXPECT_EQ(r.err, c.err) << shown;
    }
    EXPECT_EQ(run_vistrel({"--version"}).out, version);
}

TEST(command_line, help_shows_every_option_and_its_default)
{
    const run_result r = run_vistrel({"--help"});
    ASSERT_EQ(r.status, 0);
    for (const option_row &row : options)
        EXPECT_NE(r.out.find(std::string("\n  -") + row.letter + " "), std::string::npos)
            << row.letter;
    const settings_record defaults;
    for (const std::string &shown :
         {"(default: " + std::to_string(defaults.columns) + ")",
          "(default: " + std::to_string(defaults.rows) + ")",
          "(default: " + std::to_string(defaults.thumb_height) + ")",
          "(default: " + std::to_string(defaults.scaled_height) + ")",
          std::string("(default: name)"), "(default: '" + defaults.default_title + "')",
          std::string("\n  --help "), std::string("\n  --version ")})
        EXPECT_NE(r.out.find(shown), std::string::npos) << shown;
    // Defaults, not what the options before it set.
    EXPECT_EQ(run_vistrel({"-c", "9", "--help"}).out, r.out);
}

// What a run says on standard output is part of it: when that cannot be
// written, the run fails with the reason, and standard error carries
// nothing else.
TEST(command_line, standard_output_that_cannot_be_written_fails_the_run)
{
    temp_dir gallery;
    make_dir(gallery.file("album"));
    write_jpeg(gallery.file("album/p.jpg"),
               {.width = 64, .height = 48, .exif = exif_recipe{.model = "Camera"}});
    const std::string full = "vistrel: can't write to standard output: No space left on device\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{gallery.path}, 1, full},
        {{"-q", gallery.path}, 1, full},
        {{"-p", "1/2", gallery.path}, 1, full},  // its Image line
        {{"--help"}, 1, full},
        {{"--version"}, 1, full},
        // Nothing to write, nothing lost: a part without images, and what
        // goes to standard error alone.
        {{"-p", "2/2", gallery.path}, 0, ""},
        {{"-v"}, 0, std::string("vistrel version ") + VISTREL_VERSION + "\n"},
        {{"-c", "0", gallery.path}, 1, invalid("c", "0") + usage_then_hint({.columns = 0})},
    };
    for (const auto &c : cases) {
        std::string shown;
        for (const std::string &arg : c.args) shown += "[" + arg + "]";
        const run_result r = run_vistrel_into("/dev/full", c.args);
        EXPECT_EQ(r.status, c.status) << shown;
        EXPECT_EQ(r.err, c.err) << shown;
    }
}

// A write that fails midway ends the run after the album it was on, as
// any failure would: the next album and the gallery page are not written.
TEST(command_line, standard_output_failing_midway_ends_the_run)
{
    temp_dir gallery;
    for (const char *album : {"a", "b"}) {
        make_dir(gallery.file(album));
        for (int i = 0; i < 3; ++i)
            write_jpeg(gallery.file(std::string(album) + "/p" + std::to_string(i) + ".jpg"),
                       {.width = 64,
                        .height = 48,
                        .seed = uint32_t(i),
                        .exif = exif_recipe{.model = "Camera"}});
    }
    // Several threads write each photograph's lines out as it is done.
    const run_result r = run_vistrel_into("/dev/full", {"-j", "2", gallery.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vistrel: can't write to standard output: No space left on device\n");
    EXPECT_TRUE(file_exists(gallery.file("a/index.html")));
    EXPECT_FALSE(file_exists(gallery.file("b/.scaled")));
    EXPECT_FALSE(file_exists(gallery.file("index.html")));
}

// Started without standard output or standard error, the run writes its
// lines nowhere: never into a file it opens, which would otherwise take the
// free descriptor's number.
TEST(command_line, closed_standard_streams_reach_no_file)
{
    std::map<std::string, std::string> results[2];
    for (const bool closed : {false, true}) {
        temp_dir gallery;
        make_dir(gallery.file("a"));
        for (int i = 0; i < 2; ++i)
            write_jpeg(gallery.file("a/p" + std::to_string(i) + ".jpg"),
                       {.width = 64, .height = 48, .seed = uint32_t(i)});
        const std::string redirect = closed ? ">&- 2>&-" : ">/dev/null 2>&1";
        const run_result r = run_command(
            "/bin/sh",
            {"-c", "exec \"$0\" -j 1 \"$1\" " + redirect, vistrel_binary(), gallery.path}, 60);
        EXPECT_EQ(r.status, 0) << (closed ? "closed" : "open");
        results[closed] = snapshot(gallery.path);
    }
    EXPECT_EQ(results[0], results[1]);
}

TEST(command_line, quiet_and_keep_going_run_the_gallery)
{
    temp_dir gallery;
    const run_result r = run_vistrel({"-qk", "-j", "2", gallery.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_match(
        r.out, std::regex("0 albums, 0 photos: 0 made, 0 fresh, 0 deleted in [0-9.]+ s\n")))
        << r.out;
    EXPECT_EQ(r.err, "");
}

// -m is the modern gallery's options in one letter; options beside it
// still apply, before or after it.
TEST(command_line, modern_gallery_is_its_options_and_others_still_apply)
{
    const std::vector<std::vector<std::string>> same = {
        {"-m", "-H", "200", "-c", "2"},
        {"-2", "-b", "-n", "-C", "-i", "-V", "-a", "-R", "-N", "-H", "200", "-c", "2"},
        {"-H", "200", "-mc2"},
    };
    std::map<std::string, std::string> first;
    for (const auto &args : same) {
        temp_dir gallery;
        make_dir(gallery.file("album"));
        for (int i = 0; i < 5; ++i)
            write_jpeg(gallery.file("album/p" + std::to_string(i) + ".jpg"),
                       {.width = 160, .height = 120, .seed = uint32_t(i)});
        std::vector<std::string> with_gallery = args;
        with_gallery.push_back(gallery.path);
        const run_result r = run_vistrel(with_gallery);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::map<std::string, std::string> files = snapshot(gallery.path);
        EXPECT_TRUE(files.contains("album/.scaled2x/p0.jpg"));
        EXPECT_TRUE(files.contains("album/.big/p0.jpg"));
        EXPECT_EQ(decode_jpeg(gallery.file("album/.scaled/p0.jpg")).height, 200);
        if (first.empty()) {
            first = files;
        } else {
            EXPECT_TRUE(files == first) << args[0];
        }
    }
}

}  // namespace
