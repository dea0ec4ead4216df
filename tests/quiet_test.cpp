// -q: only what changed on standard output, then one summary line; and the
// progress line, on a terminal only.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

extern char **environ;

namespace {

void add_photo(const std::string &path, uint32_t seed)
{
    // With EXIF, so that standard error stays empty.
    write_jpeg(path,
               {.width = 160, .height = 120, .seed = seed, .exif = exif_recipe{.model = "X"}});
}

// Two albums: a with two photographs, b with one.
struct small_gallery {
    temp_dir dir;
    std::string root = dir.path;
    small_gallery()
    {
        make_dir(root + "/a");
        make_dir(root + "/b");
        add_photo(root + "/a/p1.jpg", 1);
        add_photo(root + "/a/p2.jpg", 2);
        add_photo(root + "/b/q.jpg", 3);
    }
};

// The summary's time varies: it is checked for its shape and blanked. The
// photographs of an album come in directory order, which the test does not
// choose: each album's lines are sorted.
std::string blank_seconds(const std::string &out)
{
    static const std::regex seconds(" in [0-9]+\\.[0-9] s\n$");
    EXPECT_TRUE(std::regex_search(out, seconds)) << out;
    std::vector<std::string> lines;
    for (size_t at = 0; at < out.size();) {
        const size_t end = out.find('\n', at);
        lines.push_back(out.substr(at, end - at + 1));
        at = end + 1;
    }
    const auto album_of = [](const std::string &line) {
        return line.substr(0, line.find_last_of('/'));
    };
    for (size_t i = 0; i < lines.size();) {
        size_t j = i + 1;
        while (j < lines.size() && lines[j].starts_with("made ") &&
               album_of(lines[j]) == album_of(lines[i]))
            ++j;
        std::sort(lines.begin() + static_cast<ptrdiff_t>(i),
                  lines.begin() + static_cast<ptrdiff_t>(j));
        i = j;
    }
    std::string sorted;
    for (const std::string &line : lines) sorted += line;
    return std::regex_replace(sorted, seconds, " in T s\n");
}

TEST(quiet, fresh_unchanged_and_changed_gallery_print_exactly_what_changed)
{
    for (const char *jobs : {"1", "4"}) {
        small_gallery g;
        const std::string &root = g.root;
        make_dir(root + "/c");  // no photographs: nothing to say about it

        const run_result fresh = run_vistrel({"-q", "-j", jobs, root});
        EXPECT_EQ(fresh.status, 0) << fresh.err;
        EXPECT_EQ(fresh.err, "");
        EXPECT_EQ(blank_seconds(fresh.out), "made " + root + "/a/p1.jpg\nmade " + root +
                                                "/a/p2.jpg\nmade " + root +
                                                "/b/q.jpg\n"
                                                "3 albums, 3 photos: 3 made, 0 fresh, 0 deleted "
                                                "in T s\n");

        const run_result unchanged = run_vistrel({"-q", "-j", jobs, root});
        EXPECT_EQ(unchanged.status, 0) << unchanged.err;
        EXPECT_EQ(unchanged.err, "");
        EXPECT_EQ(blank_seconds(unchanged.out),
                  "3 albums, 3 photos: 0 made, 3 fresh, 0 deleted in T s\n");

        // p2 changed, p3 is new, q left: its two derived files and its page go.
        add_photo(root + "/a/p2.jpg", 4);
        set_mtime(root + "/a/p2.jpg", mtime_of(root + "/a/.scaled/p2.jpg") + 10);
        add_photo(root + "/a/p3.jpg", 5);
        ASSERT_EQ(unlink((root + "/b/q.jpg").c_str()), 0);
        const run_result changed = run_vistrel({"-q", "-j", jobs, root});
        EXPECT_EQ(changed.status, 0) << changed.err;
        EXPECT_EQ(changed.err, "");
        EXPECT_EQ(blank_seconds(changed.out),
                  "made " + root + "/a/p2.jpg\nmade " + root +
                      "/a/p3.jpg\n"
                      "deleted orphan " +
                      root + "/b/.scaled/q.jpg\ndeleted orphan " + root +
                      "/b/q.jpg.html\ndeleted orphan " + root +
                      "/b/.thumbs/q.jpg\n"
                      "3 albums, 3 photos: 2 made, 1 fresh, 3 deleted in T s\n");
    }
}

// A photograph's warnings are said when it is made; a quiet rerun that
// finds it fresh says them no more, while a plain rerun says them as ever.
// A photograph made again says them again.
TEST(quiet, warnings_of_fresh_photos_are_not_repeated)
{
    for (const char *jobs : {"1", "4"}) {
        temp_dir g;
        make_dir(g.file("a"));
        write_jpeg(g.file("a/bare.jpg"), {.width = 160, .height = 120, .seed = 1});  // no EXIF
        write_jpeg(g.file("a/bare2.jpg"), {.width = 160, .height = 120, .seed = 2});
        add_photo(g.file("a/exif.jpg"), 3);
        const std::string warning = "   bare.jpg: no EXIF data found\n";
        const std::string warning2 = "   bare2.jpg: no EXIF data found\n";
        const struct {
            const char *what;
            std::vector<std::string> args;
            bool warned, warned2;
        } runs[] = {
            {"first, quiet", {"-q"}, true, true},
            {"fresh, quiet", {"-q"}, false, false},
            {"fresh, plain", {}, true, true},
            {"bare2 changed, quiet", {"-q"}, false, true},
            {"fresh, quiet, -k", {"-q", "-k"}, false, false},
            {"fresh, quiet, -p", {"-q", "-p", "1/1"}, false, false},
        };
        for (const auto &run : runs) {
            if (std::string(run.what).starts_with("bare2 changed"))
                set_mtime(g.file("a/bare2.jpg"), mtime_of(g.file("a/.scaled/bare2.jpg")) + 10);
            std::vector<std::string> args = run.args;
            args.insert(args.end(), {"-j", jobs, g.path});
            const run_result r = run_vistrel(args);
            EXPECT_EQ(r.status, 0) << run.what << r.err;
            EXPECT_EQ(r.err.find(warning) != std::string::npos, run.warned) << run.what << r.err;
            EXPECT_EQ(r.err.find(warning2) != std::string::npos, run.warned2) << run.what << r.err;
            if (!run.warned && !run.warned2) {
                EXPECT_EQ(r.err, "") << run.what;
            }
        }
        // What a quiet rerun of a fresh gallery prints: the summary alone.
        const run_result r = run_vistrel({"-q", "-j", jobs, g.path});
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(std::regex_match(
            r.out, std::regex("1 album, 3 photos: 0 made, 3 fresh, 0 deleted in [0-9.]+ s\n")))
            << r.out;
    }
}

TEST(quiet, without_q_the_output_is_as_ever)
{
    small_gallery g;
    ASSERT_EQ(unlink((g.root + "/a/p2.jpg").c_str()), 0);
    const run_result r = run_vistrel({"-j", "1", g.root});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Directory " + g.root + "/a\nImage " + g.root +
                  "/a/p1.jpg\n1 thumbnail index pages created.\n1 image processed "
                  "in album '" +
                  g.root + "/a'.\nDirectory " + g.root + "/b\nImage " + g.root +
                  "/b/q.jpg\n1 thumbnail index pages created.\n1 image processed in album '" +
                  g.root + "/b'.\n2 albums processed.\n");
}

// A run with standard error on a pseudo-terminal and standard output in a
// file; returns what the terminal got.
struct terminal_run {
    int status = -1;
    std::string out;
    std::string terminal;
};

terminal_run run_on_terminal(const std::vector<std::string> &args)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return {};
    }
    // The parent opens the terminal's other side and hands it over: once
    // the spawn returns, the program holds it, and reading ends (EIO) only
    // when the program has let go of it.
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        close(master);
        ADD_FAILURE() << "cannot open the pseudo-terminal";
        return {};
    }
    temp_dir scratch;
    const std::string out_path = scratch.file("stdout");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, master);
    std::vector<char *> argv{const_cast<char *>("vistrel")};
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    const int rc =
        posix_spawn(&pid, vistrel_binary().c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(slave);
    terminal_run result;
    if (rc != 0) {
        close(master);
        ADD_FAILURE() << "posix_spawn failed";
        return result;
    }
    // The terminal is read while the program runs: its buffer is small.
    // Once the program has ended and closed its side, read gives EIO.
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
            result.terminal.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    close(master);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = read_file(out_path);
    return result;
}

TEST(quiet, progress_line_is_drawn_on_a_terminal_and_erased)
{
    small_gallery g;
    const terminal_run r = run_on_terminal({"-q", g.root});
    EXPECT_EQ(r.status, 0) << r.terminal;
    const std::string erase = "\r\033[K";
    EXPECT_NE(r.terminal.find(erase + "album 1 of 2"), std::string::npos) << r.terminal;
    EXPECT_NE(r.terminal.find(erase + "album 1 of 2: 2 of 2 photos"), std::string::npos)
        << r.terminal;
    EXPECT_NE(r.terminal.find(erase + "album 2 of 2: 1 of 1 photo"), std::string::npos)
        << r.terminal;
    // Nothing is left of it at the end, and it never reached the file.
    EXPECT_TRUE(r.terminal.ends_with(erase)) << r.terminal;
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << r.out;
    EXPECT_TRUE(blank_seconds(r.out).starts_with("made " + g.root + "/a/p1.jpg\n")) << r.out;
}

// -R: the albums counted are those of the whole tree, the deepest too.
TEST(quiet, progress_line_counts_the_albums_of_the_whole_tree)
{
    small_gallery g;
    make_dir(g.root + "/a/inner");
    make_dir(g.root + "/a/inner/deepest");
    add_photo(g.root + "/a/inner/deepest/r.jpg", 4);
    const terminal_run r = run_on_terminal({"-q", "-R", g.root});
    EXPECT_EQ(r.status, 0) << r.terminal;
    const std::string erase = "\r\033[K";
    EXPECT_NE(r.terminal.find(erase + "album 1 of 4: 2 of 2 photos"), std::string::npos)
        << r.terminal;
    EXPECT_NE(r.terminal.find(erase + "album 3 of 4: 1 of 1 photo"), std::string::npos)
        << r.terminal;
    EXPECT_NE(r.terminal.find(erase + "album 4 of 4: 1 of 1 photo"), std::string::npos)
        << r.terminal;
    EXPECT_NE(r.out.find("4 albums, 4 photos: 4 made"), std::string::npos) << r.out;
}

TEST(quiet, progress_line_is_erased_before_a_warning)
{
    small_gallery g;
    write_jpeg(g.root + "/b/plain.jpg", {.width = 80, .height = 60});  // no EXIF: a warning
    const terminal_run r = run_on_terminal({"-q", g.root});
    EXPECT_EQ(r.status, 0) << r.terminal;
    // The warning starts on a cleared line: the line erased, then the warning.
    EXPECT_NE(r.terminal.find("\r\033[K   plain.jpg: no EXIF data found"), std::string::npos)
        << r.terminal;
}

TEST(quiet, no_progress_line_without_a_terminal_or_without_q)
{
    small_gallery g;
    const run_result quiet = run_vistrel({"-q", g.root});
    EXPECT_EQ(quiet.err, "");
    const terminal_run loud = run_on_terminal({g.root});
    EXPECT_EQ(loud.status, 0);
    EXPECT_EQ(loud.terminal.find("album 1 of"), std::string::npos) << loud.terminal;
    EXPECT_EQ(loud.terminal.find('\033'), std::string::npos) << loud.terminal;
}

}  // namespace
