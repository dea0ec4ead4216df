// Galleries that others can write into, and runs that meet each other: a
// run touches nothing outside the gallery, follows no link it did not make,
// and never mixes its files with another run's.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Every entry under root with its type, size and modification time.
std::map<std::string, std::string> tree_state(const std::string &root)
{
    std::map<std::string, std::string> state;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        struct stat status;
        lstat(entry.path().c_str(), &status);
        state[entry.path().string()] =
            std::to_string(status.st_mode) + " " + std::to_string(status.st_size) + " " +
            std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
    }
    return state;
}

// Starts a run on a gallery big enough to take a while, and returns once the
// run has begun writing, and so holds the gallery's lock, stopped there.
pid_t start_and_stop_mid_run(const std::string &gallery, const std::vector<std::string> &options)
{
    std::vector<std::string> args = options;
    args.push_back(gallery);
    const pid_t pid = start_vistrel(args);
    const std::string page_in_progress = gallery + "/index.html.tmp";
    for (;;) {
        if (file_exists(page_in_progress)) {
            kill(pid, SIGSTOP);
            int wstatus;  // a signal is delivered in its own time: wait until it has stopped
            waitpid(pid, &wstatus, WUNTRACED);
            return pid;
        }
        int wstatus;
        if (waitpid(pid, &wstatus, WNOHANG) == pid) {
            ADD_FAILURE() << "the first run ended before it could be caught mid-way";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void build_big_gallery(const std::string &gallery)
{
    make_dir(gallery + "/album");
    for (int i = 0; i < 40; ++i)
        write_jpeg(gallery + "/album/img" + std::to_string(i) + ".jpg",
                   {.width = 1200, .height = 900, .seed = static_cast<uint32_t>(i + 1)});
}

TEST(hostile, a_second_run_on_a_locked_gallery_touches_nothing)
{
    temp_dir g;
    build_big_gallery(g.path);
    const pid_t first = start_and_stop_mid_run(g.path, {"-j", "1"});
    ASSERT_GT(first, 0);

    // The first run holds the lock on the gallery's lock file.
    const int probe = open(g.file(".lock").c_str(), O_RDWR);
    ASSERT_GE(probe, 0);
    EXPECT_NE(flock(probe, LOCK_EX | LOCK_NB), 0);
    close(probe);

    const auto before = tree_state(g.path);
    for (const std::vector<std::string> &options :
         {std::vector<std::string>{}, {"-f", "-H", "200"}}) {
        std::vector<std::string> args = options;
        args.push_back(g.path);
        const run_result second = run_vistrel(args);
        EXPECT_EQ(second.status, 1);
        EXPECT_EQ(second.out, "");
        EXPECT_EQ(second.err, "vistrel: '" + g.path + "' is being updated by another run\n");
    }
    EXPECT_EQ(tree_state(g.path), before);

    kill(first, SIGCONT);
    int wstatus = 0;
    waitpid(first, &wstatus, 0);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);

    // A run killed outright leaves no lock behind.
    const pid_t killed = start_and_stop_mid_run(g.path, {"-f"});
    ASSERT_GT(killed, 0);
    kill(killed, SIGKILL);
    waitpid(killed, &wstatus, 0);
    const run_result after = run_vistrel({g.path});
    EXPECT_EQ(after.status, 0) << after.err;
}

// Someone who can write into an album plants links where the run writes,
// and a link in place of a cache directory: the run neither writes nor
// deletes through any of them.
TEST(hostile, planted_links_are_never_followed)
{
    temp_dir g, outside;
    const std::string a = g.file("a");
    make_dir(a);
    write_jpeg(a + "/x.jpg", {.width = 64, .height = 48});
    make_dir(a + "/.scaled");
    make_dir(a + "/.thumbs");
    const std::string victim = outside.file("victim");
    write_file(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), (a + "/x.jpg.html.tmp").c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), (a + "/.scaled/x.jpg.tmp").c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), (a + "/index.html.tmp").c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), g.file("index.html.tmp").c_str()), 0);
    // A FIFO would block an open for writing until someone reads it.
    ASSERT_EQ(mkfifo((a + "/.thumbs/x.jpg.tmp").c_str(), 0666), 0);
    // A derived file that is a link to something newer is not fresh: the
    // link itself is replaced.
    const std::string newer = outside.file("newer.jpg");
    write_file(newer, "not a thumbnail");
    set_mtime(newer, 4000000000);
    ASSERT_EQ(symlink(newer.c_str(), (a + "/.thumbs/x.jpg").c_str()), 0);

    const auto outside_before = tree_state(outside.path);
    const run_result r = run_command(vistrel_binary(), {g.path}, 60);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree_state(outside.path), outside_before);
    EXPECT_EQ(read_file(victim), "precious");
    for (const std::string &path : {a + "/x.jpg.html", a + "/index.html", g.file("index.html"),
                                    a + "/.scaled/x.jpg", a + "/.thumbs/x.jpg"}) {
        EXPECT_TRUE(is_regular_file(path)) << path;
        EXPECT_FALSE(file_exists(path + ".tmp")) << path;
    }
    EXPECT_EQ(decode_jpeg(a + "/.thumbs/x.jpg").height, 96);
}

TEST(hostile, a_linked_cache_directory_is_refused_and_nothing_outside_is_deleted)
{
    temp_dir pictures;
    write_file(pictures.file("holiday.jpg"), "a photograph of the owner's");
    const struct {
        const char *dir;
        std::string (*message)(const std::string &album);
    } cases[] = {
        {".scaled",
         [](const std::string &a) {
             return "'" + a + "/.scaled' exists, but is not a directory\n";
         }},
        {".thumbs",
         [](const std::string &a) { return a + "/.thumbs exists, but is not a directory\n"; }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dir);
        temp_dir g;
        const std::string a = g.file("a");
        make_dir(a);
        write_jpeg(a + "/x.jpg", {.width = 64, .height = 48});
        ASSERT_EQ(symlink(pictures.path.c_str(), (a + "/" + c.dir).c_str()), 0);
        const run_result r = run_vistrel({g.path});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "vistrel: " + c.message(a));
        EXPECT_TRUE(is_symlink(a + "/" + c.dir));

        // An album without images has no cache to make, only orphans to
        // remove: the link is not listed, so nothing behind it goes.
        fs::remove(a + "/x.jpg");
        const run_result empty = run_vistrel({g.path});
        EXPECT_EQ(empty.status, 0) << empty.err;
        EXPECT_NE(empty.out.find("can't opendir(" + a + "/" + c.dir + ")\n"), std::string::npos);
        EXPECT_EQ(empty.out.find("deleted orphan"), std::string::npos);
    }
    EXPECT_TRUE(file_exists(pictures.file("holiday.jpg")));
}

std::vector<std::string> names_in(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool is_valid_utf8(const std::string &text)
{
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t length = c < 0x80         ? 1
                              : (c >> 5) == 6  ? 2
                              : (c >> 4) == 14 ? 3
                              : (c >> 3) == 30 ? 4
                                               : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

// Every legal name works: where "<name>.html" or "<name>.tmp" would pass the
// file system's limit, a shortened name that stays the same from run to run
// stands in, and every link and orphan removal use it.
TEST(hostile, names_at_the_length_limit)
{
    temp_dir g;
    const std::string a = g.file("a");
    make_dir(a);
    std::string accented;
    for (int i = 0; i < 125; ++i) accented += "\xc3\xa9";
    const struct {
        std::string name;
        bool page_shortened;
    } cases[] = {
        {std::string(251, 'a') + ".jpg", true},   // 255 bytes, the limit
        {std::string(247, 'b') + ".jpg", true},   // its page one byte past the limit
        {std::string(246, 'c') + ".jpg", false},  // its page just at the limit
        {accented + ".jpg", true},                // 254 bytes, two per character
        {"short.jpg", false},
    };
    for (const auto &c : cases) write_jpeg(a + "/" + c.name, {.width = 40, .height = 30});

    const run_result r = run_vistrel({g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> names = names_in(a);
    const std::string index = read_file(a + "/index.html");
    std::vector<std::string> pages;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name.size());
        EXPECT_TRUE(is_regular_file(a + "/.scaled/" + c.name));
        EXPECT_TRUE(is_regular_file(a + "/.thumbs/" + c.name));
        std::string page = c.name + ".html";
        if (c.page_shortened) {
            // Some prefix of the name, a tilde, 16 hex digits, ".html".
            const auto found = std::find_if(names.begin(), names.end(), [&](const std::string &n) {
                return n.size() > 22 && n.ends_with(".html") && n[n.size() - 22] == '~' &&
                       c.name.starts_with(n.substr(0, n.size() - 22));
            });
            ASSERT_NE(found, names.end());
            page = *found;
            EXPECT_LE(page.size(), 255u);
            EXPECT_GE(page.size(), 250u);
            EXPECT_TRUE(is_valid_utf8(page));
            EXPECT_EQ(page.find_first_not_of("0123456789abcdef", page.size() - 21),
                      page.size() - 5);
        }
        EXPECT_TRUE(is_regular_file(a + "/" + page));
        std::string href;
        for (const char ch : page) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(ch));
            href += static_cast<unsigned char>(ch) >= 0x80 ? std::string(hex) : std::string(1, ch);
        }
        EXPECT_NE(index.find("<a href=\"" + href + "\">"), std::string::npos);
        pages.push_back(page);
    }
    for (const std::string &n : names) EXPECT_FALSE(n.ends_with(".tmp")) << n;

    // The same names on the next run; and the page goes with its image.
    ASSERT_EQ(run_vistrel({g.path}).status, 0);
    EXPECT_EQ(names_in(a), names);
    fs::remove(a + "/" + cases[0].name);
    const run_result removed = run_vistrel({g.path});
    ASSERT_EQ(removed.status, 0) << removed.err;
    EXPECT_FALSE(file_exists(a + "/" + pages[0]));
    EXPECT_NE(removed.out.find("deleted orphan " + a + "/" + pages[0] + "\n"), std::string::npos);
}

// A .description that is not a regular file would block the run (a FIFO),
// feed it for ever (a device) or lead anywhere (a link): it is ignored, with
// a warning, and the album has no description.
TEST(hostile, a_description_that_is_no_regular_file_is_ignored)
{
    const struct {
        const char *what;
        void (*plant)(const std::string &path);
    } cases[] = {
        {"fifo", [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0666), 0); }},
        {"link to /dev/zero",
         [](const std::string &p) { ASSERT_EQ(symlink("/dev/zero", p.c_str()), 0); }},
        {"link to /dev/urandom",
         [](const std::string &p) { ASSERT_EQ(symlink("/dev/urandom", p.c_str()), 0); }},
        {"directory", [](const std::string &p) { make_dir(p); }},
        // A socket cannot even be opened; it is named all the same.
        {"socket", [](const std::string &p) { make_socket(p); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        temp_dir g;
        const std::string a = g.file("a");
        make_dir(a);
        write_jpeg(a + "/x.jpg", {.width = 40, .height = 30});
        c.plant(a + "/.description");
        const run_result r = run_command(vistrel_binary(), {g.path}, 60);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err,
                  "   " + a +
                      "/.description: not a regular file, ignored\n   x.jpg: no EXIF data found\n");
        EXPECT_NE(r.out.find("1 image processed in album '" + a + "'."), std::string::npos);
    }
}

}  // namespace
