// The gallery's lock: a file only the run's user can open, so that another
// user who can read the gallery cannot stop its runs, and nothing planted
// in its place is followed, used or changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/jpeg_fixture.h"
#include "support/run_as_nobody.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

constexpr uid_t nobody = 65534;

mode_t mode_of(const std::string &path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

uid_t owner_of(const std::string &path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_uid : 0;
}

// A process of the user nobody that holds an exclusive lock on the gallery
// directory and on whatever else of the gallery it can open, until it is
// told to let go. Reports whether it could open the gallery's lock file.
struct foreign_holder {
    pid_t pid = -1;
    int release = -1;         // closed to let go
    bool opened_lock = true;  // whether nobody could open .lock

    explicit foreign_holder(const std::string &gallery)
    {
        int ready[2], go[2];
        if (pipe(ready) != 0 || pipe(go) != 0) throw std::runtime_error("pipe failed");
        pid = fork();
        if (pid == 0) {
            close(ready[0]);
            close(go[1]);
            if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)
                _exit(126);
            const int dir = open(gallery.c_str(), O_RDONLY | O_DIRECTORY);
            if (dir < 0 || flock(dir, LOCK_EX | LOCK_NB) != 0) _exit(125);
            const int lock = open((gallery + "/.lock").c_str(), O_RDONLY);
            const char said = lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
            if (write(ready[1], &said, 1) != 1) _exit(124);
            char ignored;
            while (read(go[0], &ignored, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(go[0]);
        release = go[1];
        char said = 'y';
        if (read(ready[0], &said, 1) != 1) ADD_FAILURE() << "nobody could not lock the gallery";
        close(ready[0]);
        opened_lock = said == 'y';
    }
    ~foreign_holder()
    {
        close(release);
        int wstatus;
        waitpid(pid, &wstatus, 0);
    }
};

TEST(gallery_lock, another_user_holding_the_gallery_stops_no_run)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to be another user";
    temp_dir g;
    chmod(g.path.c_str(), 0755);  // readable by everyone, writable by its owner only
    make_dir(g.file("a"));
    write_jpeg(g.file("a/x.jpg"), {.width = 64, .height = 48, .exif = exif_recipe{.model = "C"}});
    // The lock file exists, from an earlier run, or not yet.
    for (const bool earlier_run : {false, true}) {
        if (earlier_run) {
            ASSERT_EQ(run_vistrel({g.path}).status, 0);
        }
        const foreign_holder holder(g.path);
        EXPECT_FALSE(holder.opened_lock);
        for (const std::vector<std::string> &options :
             {std::vector<std::string>{}, {"-p", "1/2"}, {"-p", "2/2"}}) {
            std::vector<std::string> args = options;
            args.push_back(g.path);
            const run_result r = run_vistrel(args);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
        }
        EXPECT_EQ(mode_of(g.file(".lock")), S_IFREG | 0600);
        EXPECT_EQ(owner_of(g.file(".lock")), 0u);
    }
}

// Whatever stands in the lock file's place that is not the run's own file
// is refused, and left as it was; so is what stands where a lock file that
// others could open is replaced from.
TEST(gallery_lock, what_is_not_the_runs_own_file_is_refused)
{
    temp_dir outside;
    const std::string victim = outside.file("victim");
    write_file(victim, "precious");
    chmod(victim.c_str(), 0644);
    const struct {
        const char *name;
        std::function<void(const std::string &)> plant;
        bool needs_root;
    } cases[] = {
        {"link to a file",
         [&](const std::string &lock) { ASSERT_EQ(symlink(victim.c_str(), lock.c_str()), 0); }},
        {"dangling link",
         [&](const std::string &lock) {
             ASSERT_EQ(symlink(outside.file("made").c_str(), lock.c_str()), 0);
         }},
        {"directory", [](const std::string &lock) { make_dir(lock); }},
        {"FIFO", [](const std::string &lock) { ASSERT_EQ(mkfifo(lock.c_str(), 0666), 0); }},
        {"socket", [](const std::string &lock) { make_socket(lock); }},
        {"another user's file",
         [](const std::string &lock) {
             write_file(lock, "");
             ASSERT_EQ(chmod(lock.c_str(), 0644), 0);
             ASSERT_EQ(chown(lock.c_str(), nobody, nobody), 0);
         },
         true},
    };
    for (const auto &c : cases)
        for (const std::string at : {".lock", ".lock.tmp"}) {
            SCOPED_TRACE(c.name + (" at " + at));
            if (c.needs_root && geteuid() != 0) continue;
            temp_dir g;
            make_dir(g.file("a"));
            write_jpeg(g.file("a/x.jpg"), {.width = 64, .height = 48});
            if (at == ".lock.tmp") {
                write_file(g.file(".lock"), "");
                ASSERT_EQ(chmod(g.file(".lock").c_str(), 0644), 0);
            }
            const std::string planted = g.file(at);
            c.plant(planted);
            const mode_t mode = mode_of(planted);
            const uid_t owner = owner_of(planted);
            for (const char *part : {"", "1/2"}) {
                std::vector<std::string> args = {g.path};
                if (*part) args.insert(args.begin(), {"-p", part});
                const run_result r = run_vistrel(args);
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.out, "");
                EXPECT_EQ(r.err, "vistrel: can't lock '" + g.path + "': " + at +
                                     " is not a regular file of this user\n");
            }
            EXPECT_EQ(mode_of(planted), mode);
            EXPECT_EQ(owner_of(planted), owner);
            EXPECT_EQ(read_file(victim), "precious");
            EXPECT_EQ(mode_of(victim), S_IFREG | 0644);
            EXPECT_FALSE(file_exists(outside.file("made")));
            EXPECT_FALSE(file_exists(g.file("index.html")));
            EXPECT_FALSE(file_exists(g.file("a/.scaled")));
        }
}

ino_t inode_of(const std::string &path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// The run's own lock file that others could open (restored from a backup)
// is replaced by a new one that only the run's user can open: another user
// who opened the old one, and holds it, stops no run. A new file left by a
// run killed while it replaced one is no obstacle.
TEST(gallery_lock, own_lock_file_open_to_others_is_replaced)
{
    const struct {
        std::vector<std::string> options;
        bool leftover;
    } cases[] = {{{}, false}, {{"-p", "1/2"}, false}, {{}, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options) + (c.leftover ? ", leftover" : ""));
        temp_dir g;
        chmod(g.path.c_str(), 0755);
        const std::string lock = g.file(".lock");
        write_file(lock, "");
        ASSERT_EQ(chmod(lock.c_str(), 0644), 0);
        if (c.leftover) write_file(g.file(".lock.tmp"), "");
        const ino_t old = inode_of(lock);
        std::optional<foreign_holder> holder;
        if (geteuid() == 0) {
            holder.emplace(g.path);
            EXPECT_TRUE(holder->opened_lock);
        }
        std::vector<std::string> args = c.options;
        args.push_back(g.path);
        const run_result r = run_vistrel(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.options.empty() ? "0 albums processed.\n" : "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(mode_of(lock), S_IFREG | 0600);
        EXPECT_NE(inode_of(lock), old);
        EXPECT_FALSE(file_exists(g.file(".lock.tmp")));
    }
}

// Parts started together on a lock file others could open, each finding
// it to replace: whichever replaces it, the others lock the file that took
// its place, and none is turned away.
TEST(gallery_lock, parts_started_together_on_a_lock_file_open_to_others_all_run)
{
    temp_dir g;
    make_dir(g.file("a"));
    for (int i = 0; i < 4; ++i)
        write_jpeg(g.file("a/p" + std::to_string(i) + ".jpg"), {.width = 64, .height = 48});
    write_file(g.file(".lock"), "");
    ASSERT_EQ(chmod(g.file(".lock").c_str(), 0666), 0);
    std::vector<pid_t> parts;
    for (int k = 1; k <= 8; ++k)
        parts.push_back(start_vistrel({"-p", std::to_string(k) + "/8", g.path}));
    for (const pid_t pid : parts) {
        int wstatus = 0;
        ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
        EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << wstatus;
    }
    EXPECT_EQ(mode_of(g.file(".lock")), S_IFREG | 0600);
    EXPECT_FALSE(file_exists(g.file(".lock.tmp")));
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(file_exists(g.file("a/.scaled/p" + std::to_string(i) + ".jpg")));
}

// A lock that cannot be taken for any other reason than another run ends
// the run, naming the gallery.
TEST(gallery_lock, a_lock_that_cannot_be_made_ends_the_run)
{
    temp_dir base;
    open_to_everyone(base.path);
    const std::string g = base.file("read-only");
    make_dir(g);
    make_dir(g + "/a");
    ASSERT_EQ(chmod(g.c_str(), 0555), 0);
    for (const char *part : {"", "2/3"}) {
        std::vector<std::string> args = {g};
        if (*part) args.insert(args.begin(), {"-p", part});
        const run_result r = run_vistrel_as_nobody(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "vistrel: can't lock '" + g + "': .lock: Permission denied\n");
    }
    chmod(g.c_str(), 0755);
}

}  // namespace
