// Names that would command a terminal are shown, not obeyed, when vistrel
// writes to one; files and pipes get the bytes as they are.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/terminal.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

extern char **environ;

namespace {

TEST(terminal, control_bytes_show_as_hex)
{
    const struct {
        std::string text, shown;
    } cases[] = {
        {"plain.jpg\n", "plain.jpg\n"},
        {"\x1b]0;owned\x07.jpg\n", "\\x1B]0;owned\\x07.jpg\n"},  // retitles the window
        {"a\x1b[2Jb\tc\rd\x7f", "a\\x1B[2Jb\\x09c\\x0Dd\\x7F"},
        {"Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.jpg", "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.jpg"},
        {"csi \xc2\x9b"
         "2J",
         "csi \\xC2\\x9B2J"},                          // U+009B, a C1 control
        {"latin-1 \xe9 \x9b", "latin-1 \\xE9 \\x9B"},  // not UTF-8
        {"cut \xe6\x97", "cut \\xE6\\x97"},
        {"overlong \xc0\xaf", "overlong \\xC0\\xAF"},
        // Only the newline that ends the line is one; the others, and the
        // line and paragraph separators, would start a line of a name's own.
        {"a\nb\n", "a\\x0Ab\n"},
        {"\n\n", "\\x0A\n"},
        {"\n", "\n"},
        {"a\xe2\x80\xa8"
         "b\xe2\x80\xa9"
         "c\xe2\x80\xa7\n",
         "a\\xE2\\x80\\xA8"
         "b\\xE2\\x80\\xA9"
         "c\xe2\x80\xa7\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(terminal_safe(c.text), c.shown) << c.text;
}

// Runs vistrel with both output streams on a terminal; returns all it wrote.
std::string run_on_terminal(const std::vector<std::string> &args)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    EXPECT_GE(slave, 0);
    termios raw;
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);  // no newline translation: the bytes as written
    tcsetattr(slave, TCSANOW, &raw);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, slave, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, slave, STDERR_FILENO);
    std::vector<char *> argv{const_cast<char *>("vistrel")};
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    EXPECT_EQ(posix_spawn(&pid, vistrel_binary().c_str(), &actions, nullptr, argv.data(), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    close(slave);

    std::string output;
    char buffer[4096];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) break;
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the last writer has closed
        output.append(buffer, static_cast<size_t>(n));
    }
    int wstatus;
    waitpid(pid, &wstatus, 0);
    close(master);
    return output;
}

TEST(terminal, names_on_a_terminal_are_shown_not_obeyed)
{
    temp_dir g;
    const std::string album = g.file("a\x1b[2J");
    make_dir(album);
    const std::string name = "\x1b]0;owned\x07.jpg";
    write_jpeg(album + "/" + name, {.width = 16, .height = 12});
    const std::string shown_album = g.path + "/a\\x1B[2J";

    const std::string on_terminal = run_on_terminal({"-j", "1", g.path});
    EXPECT_EQ(on_terminal.find('\x1b'), std::string::npos) << on_terminal;
    EXPECT_NE(on_terminal.find("Image " + shown_album + "/\\x1B]0;owned\\x07.jpg\n"),
              std::string::npos)
        << on_terminal;
    EXPECT_NE(on_terminal.find("   \\x1B]0;owned\\x07.jpg: no EXIF data found\n"),
              std::string::npos);

    // To a file, byte for byte as always.
    const run_result r = run_vistrel({g.path});
    EXPECT_NE(r.out.find("Image " + album + "/" + name + "\n"), std::string::npos);
    EXPECT_EQ(r.err, "   " + name + ": no EXIF data found\n");
}

// A name cannot fake a line of its own: a newline in it, a carriage
// return, a line or paragraph separator shows as \xHH on a terminal, while
// each line still ends in its newline; files and pipes get them as they are.
TEST(terminal, names_on_a_terminal_start_no_line_of_their_own)
{
    temp_dir g;
    const std::string album = "trip\xe2\x80\xa8"
                              "1 album processed.";
    make_dir(g.file(album));
    const std::vector<std::string> names = {"a\nvistrel: 0 photos could not be read.jpg",
                                            "b\rmade x.jpg",
                                            "c\xe2\x80\xa9"
                                            "d.jpg"};
    for (const std::string &name : names)
        write_jpeg(g.file(album + "/" + name), {.width = 16, .height = 12});
    const std::string shown_album = g.path + "/trip\\xE2\\x80\\xA8"
                                             "1 album processed.";
    const std::vector<std::string> shown = {"a\\x0Avistrel: 0 photos could not be read.jpg",
                                            "b\\x0Dmade x.jpg",
                                            "c\\xE2\\x80\\xA9"
                                            "d.jpg"};
    std::vector<std::string> lines = {"Directory " + shown_album,
                                      "3 images processed in album '" + shown_album + "'.",
                                      "1 album processed."};
    for (const std::string &name : shown) {
        lines.push_back("Image " + shown_album + "/" + name);
        lines.push_back("   " + name + ": no EXIF data found");
    }
    const std::string output = run_on_terminal({"-j", "1", g.path});
    for (const std::string &line : lines)
        EXPECT_NE(output.find(line + "\n"), std::string::npos) << line << "\n" << output;
    // The thumbnail index line besides those, and no other line.
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), lines.size() + 1) << output;
    for (const char *raw : {"\r", "\xe2\x80\xa8", "\xe2\x80\xa9"})
        EXPECT_EQ(output.find(raw), std::string::npos) << output;

    const run_result r = run_vistrel({"-j", "1", g.path});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string &name : names) {
        EXPECT_NE(r.out.find("Image " + g.file(album) + "/" + name + "\n"), std::string::npos);
        EXPECT_NE(r.err.find("   " + name + ": no EXIF data found\n"), std::string::npos);
    }
}

// Words of the command line are shown like names: an argument, an option
// letter and the gallery operand.
TEST(terminal, command_line_words_on_a_terminal_are_shown_not_obeyed)
{
    temp_dir g;
    write_file(g.file("f\x1b[31m"), "");
    const std::vector<std::vector<std::string>> words = {{"-c", "\x1b[31m", g.path},
                                                         {"-\x1b", g.path},
                                                         {g.file("f\x1b[31m")},
                                                         {"-d", "\x1b[2J", "-x", g.path}};
    for (const std::vector<std::string> &args : words) {
        const std::string shown = run_on_terminal(args);
        EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
        EXPECT_NE(shown.find("\\x1B"), std::string::npos) << shown;
    }
}

}  // namespace
