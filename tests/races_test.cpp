// Files and directories that change while a run goes on: nothing outside the
// gallery is read, written or deleted, no final derived file mixes two
// pictures, and a photograph that changed is read again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "album/cache_dirs.h"
#include "album/image_listing.h"
#include "album/orphans.h"
#include "album/photo_jobs.h"
#include "image/derive_image.h"
#include "pages/image_pages.h"
#include "support/capture_output.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/run_while_held.h"
#include "support/temp_dir.h"

namespace {

// One colour all over, so a derived file that mixes two sources shows it.
jpeg_recipe solid(int width, int height, uint8_t r, uint8_t g, uint8_t b)
{
    jpeg_recipe spec{.width = width, .height = height};
    for (int i = 0; i < width * height; ++i) spec.pixels.insert(spec.pixels.end(), {r, g, b});
    return spec;
}

const jpeg_recipe red = solid(64, 48, 220, 20, 20);
const jpeg_recipe green = solid(64, 48, 20, 220, 20);  // what must never leak in

// Every file under a directory with its content: what "untouched" compares.
std::map<std::string, std::string> snapshot(const std::string &root)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        files[path.substr(root.size())] = entry.is_symlink()        ? "link"
                                          : entry.is_regular_file() ? read_file(path)
                                                                    : "dir";
    }
    return files;
}

// Which of the pictures a derived file shows: 'r', 'g', 'b', or '?' for a mix.
char colour_of(const std::string &path)
{
    const decoded_jpeg d = decode_jpeg(path);
    char seen = 0;
    for (size_t i = 0; i + 2 < d.pixels.size(); i += 3) {
        const uint8_t r = d.pixels[i], g = d.pixels[i + 1], b = d.pixels[i + 2];
        const char c = r > 150 && g < 90 && b < 90   ? 'r'
                       : g > 150 && r < 90 && b < 90 ? 'g'
                       : b > 150 && r < 90 && g < 90 ? 'b'
                                                     : '?';
        if (c == '?' || (seen && c != seen)) return '?';
        seen = c;
    }
    return seen;
}

// A gallery g with album a, and a folder beside it that the run must leave alone.
struct scene {
    temp_dir root;
    std::string gallery = root.file("g");
    std::string album = root.file("g/a");
    std::string outside = root.file("out");

    scene()
    {
        make_dir(gallery);
        make_dir(album);
        make_dir(outside);
        write_jpeg(outside + "/secret.jpg", green);
        make_dir(outside + "/.scaled");
        make_dir(outside + "/.thumbs");
        write_jpeg(outside + "/.scaled/v.jpg", green);
        write_jpeg(outside + "/.thumbs/v.jpg", green);
    }
};

// What the album driver holds once the album is listed and its cache made.
struct held_album {
    album_dirs dirs;
    std::vector<image_info> images;
};

held_album hold_album(const std::string &path)
{
    held_album held;
    held.dirs.album = held_dir(path);
    result<std::vector<image_info>> listed = list_images(held.dirs.album);
    if (!listed.ok()) throw std::runtime_error(listed.error().text);
    held.images = std::move(*listed);
    for (image_info &image : held.images) image.page = image.name + ".html";
    if (const outcome made = open_cache_dirs(held.dirs, settings_record{}); !made.ok())
        throw std::runtime_error(made.error().text);
    return held;
}

}  // namespace

// Listed as a photograph, then swapped before it is opened: the run fails on
// it, reads nothing through it, and never waits on a FIFO.
TEST(races, a_photo_swapped_after_the_listing_is_refused)
{
    struct swap_case {
        const char *what;
        void (*swap)(const scene &s, const std::string &photo);
        std::string reason;
    };
    const swap_case cases[] = {
        {"link to a file outside",
         [](const scene &s, const std::string &p) {
             ASSERT_EQ(symlink((s.outside + "/secret.jpg").c_str(), p.c_str()), 0);
         },
         ": Too many levels of symbolic links\n"},
        {"FIFO", [](const scene &, const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); },
         ": not a regular file\n"},
        {"directory", [](const scene &, const std::string &p) { make_dir(p); },
         ": not a regular file\n"},
    };
    for (const swap_case &c : cases) {
        for (const int jobs : {1, 2}) {
            SCOPED_TRACE(std::string(c.what) + ", -j " + std::to_string(jobs));
            const scene s;
            write_jpeg(s.album + "/p.jpg", red);
            write_jpeg(s.album + "/z.jpg", red);
            held_album held = hold_album(s.album);
            ASSERT_EQ(unlink((s.album + "/z.jpg").c_str()), 0);
            c.swap(s, s.album + "/z.jpg");

            settings_record config;
            config.jobs = jobs;
            const auto done = process_images(held.dirs, held.images, config);
            ASSERT_FALSE(done.ok());
            EXPECT_EQ(done.error().text, "can't fopen(" + s.album + "/z.jpg)" + c.reason);
            EXPECT_FALSE(file_exists(s.album + "/.scaled/z.jpg"));
            EXPECT_FALSE(file_exists(s.album + "/.thumbs/z.jpg"));
        }
    }
}

// The album is swapped for a link to a folder outside once it is held:
// derived files, pages and orphan removal all stay in the album that was
// opened, and the folder outside is untouched.
TEST(races, an_album_swapped_for_a_link_once_held_sends_nothing_outside)
{
    const scene s;
    write_jpeg(s.album + "/p.jpg", red);
    write_jpeg(s.album + "/q.jpg", red);
    held_album held = hold_album(s.album);
    write_jpeg(s.album + "/.scaled/orphan.jpg", red);
    const auto before = snapshot(s.outside);

    ASSERT_EQ(rename(s.album.c_str(), (s.album + ".real").c_str()), 0);
    ASSERT_EQ(symlink(s.outside.c_str(), s.album.c_str()), 0);

    settings_record config;
    ASSERT_TRUE(process_images(held.dirs, held.images, config).ok());
    ASSERT_TRUE(write_image_pages(held.dirs.album, held.images, "t", "", config).ok());
    for (const derived_image &kind : derived_images)
        remove_orphans(held.dirs.album, kind, held.images);

    EXPECT_EQ(snapshot(s.outside), before);
    const std::string real = s.album + ".real";
    for (const char *made : {"/.scaled/p.jpg", "/.thumbs/q.jpg", "/p.jpg.html", "/q.jpg.html"})
        EXPECT_TRUE(file_exists(real + made)) << made;
    EXPECT_FALSE(file_exists(real + "/.scaled/orphan.jpg"));
}

// ---------------------------------------------------------------------------
// A photograph changed while it is read. The kernel holds each read of the
// photograph until the test has changed the file, so the change lands between
// the program's open and its last look, every time.

namespace {

enum class change { append, truncate, rename_over };

struct change_plan {
    change what;
    int times;  // on the first read after this many opens
};

// Applies the change at the first read of the photograph after each of its
// first `plan.times` opens, through the held read's own descriptor.
class read_change {
public:
    read_change(std::string path, std::string replacement, change_plan plan)
        : path_(std::move(path)), replacement_(std::move(replacement)), plan_(plan)
    {}

    void see(const fanotify_event_metadata &event)
    {
        if (event.mask & FAN_OPEN_PERM) {
            ++opens_;
            armed_ = opens_ <= plan_.times;
        } else if ((event.mask & FAN_ACCESS_PERM) && armed_) {
            armed_ = false;
            apply(event.fd);
        }
    }

private:
    void apply(int fd)
    {
        struct stat status;
        fstat(fd, &status);
        if (plan_.what == change::append) {
            const std::string tail(4096, '\0');
            if (pwrite(fd, tail.data(), tail.size(), status.st_size) < 0) ADD_FAILURE() << "append";
        } else if (plan_.what == change::truncate) {
            if (ftruncate(fd, status.st_size - 64) != 0) ADD_FAILURE() << "truncate";
        } else {
            if (rename(replacement_.c_str(), path_.c_str()) != 0) ADD_FAILURE() << "rename";
        }
    }

    std::string path_, replacement_;
    change_plan plan_;
    int opens_ = 0;
    bool armed_ = false;
};

}  // namespace

TEST(races, a_photo_changed_while_it_is_read_is_read_again)
{
    struct change_case {
        const char *what;
        change_plan plan;
        char colour;          // of the derived images that stay; 0: not looked at
        int width, height;    // of the photograph the page shows
        bool still_changing;  // changed at the second reading too
    };
    const change_case cases[] = {
        {"appended to", {change::append, 1}, 'r', 640, 480, false},
        // Its end lost: made from what is left, grey where data is missing.
        {"cut short", {change::truncate, 1}, 0, 640, 480, false},
        {"renamed over", {change::rename_over, 1}, 'b', 800, 600, false},
        {"appended to at both readings", {change::append, 2}, 0, 640, 480, true},
    };
    for (const change_case &c : cases) {
        for (const int jobs : {1, 2}) {
            SCOPED_TRACE(std::string(c.what) + ", -j " + std::to_string(jobs));
            const scene s;
            const std::string photo = s.album + "/p.jpg";
            // Large enough that cutting its end leaves its headers whole.
            write_jpeg(photo, solid(640, 480, 220, 20, 20));
            write_jpeg(s.album + "/q.jpg", red);
            write_jpeg(s.root.file("blue.jpg"), solid(800, 600, 20, 20, 220));
            // Derived files of an earlier run, older than the photograph.
            ASSERT_EQ(run_vistrel({s.gallery}).status, 0);
            for (const char *dir : {"/.scaled/p.jpg", "/.thumbs/p.jpg"})
                set_mtime(s.album + dir, 1000000000);

            read_change change(photo, s.root.file("blue.jpg"), c.plan);
            const auto see = [&](const fanotify_event_metadata &event) { change.see(event); };
            const std::optional<run_result> held =
                run_while_held({.path = photo,
                                .events = FAN_OPEN_PERM | FAN_ACCESS_PERM,
                                .writable = true,
                                .handle = see},
                               {"-j", std::to_string(jobs), s.gallery});
            if (!held) GTEST_SKIP() << "no fanotify permission events here";
            const run_result &r = *held;

            EXPECT_EQ(r.status, 0) << r.err;
            const std::string again = "   p.jpg: changed while it was read, reading it again\n";
            const std::string still =
                "   p.jpg: still changing, its derived images are left for the next run\n";
            EXPECT_NE(r.err.find(again), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find(still) != std::string::npos, c.still_changing) << r.err;
            const std::string page = read_file(s.album + "/p.jpg.html");
            const std::string size = "Original size (" + std::to_string(c.width) + " x " +
                                     std::to_string(c.height);
            EXPECT_NE(page.find(size), std::string::npos);
            for (const char *dir : {"/.scaled/p.jpg", "/.thumbs/p.jpg"}) {
                if (c.still_changing) {
                    EXPECT_FALSE(file_exists(s.album + dir)) << dir;
                } else {
                    EXPECT_TRUE(file_exists(s.album + dir)) << dir;
                    if (c.colour) {
                        EXPECT_EQ(colour_of(s.album + dir), c.colour) << dir;
                    }
                }
            }
            EXPECT_EQ(colour_of(s.album + "/.scaled/q.jpg"), 'r');

            // Left for the next run, which makes them without a word.
            const run_result next = run_vistrel({s.gallery});
            EXPECT_EQ(next.status, 0);
            EXPECT_EQ(next.err.find("changed while"), std::string::npos) << next.err;
            EXPECT_TRUE(file_exists(s.album + "/.scaled/p.jpg"));
        }
    }
}

// ---------------------------------------------------------------------------
// The same races with real processes, unplanned: a swapper beside repeated
// runs for a few seconds.

namespace {

// The file rewritten with one write, as a copy in place does it.
void write_whole(const std::string &path, const std::vector<uint8_t> &bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (write(fd, bytes.data(), bytes.size()) < 0) {
    }
    close(fd);
}

// Runs `step` over and over in a child process until stopped.
class swapper {
public:
    template <class Step>
    explicit swapper(Step step)
    {
        pid_ = fork();
        if (pid_ == 0) {
            for (;;) step();
        }
    }
    ~swapper()
    {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_;
};

// Repeated runs for about `seconds`; every run must end on its own.
template <class Check>
void run_repeatedly(const scene &s, double seconds, Check check)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (int k = 0; std::chrono::steady_clock::now() < end; ++k) {
        const std::vector<std::string> args = {"-j", k % 2 ? "2" : "1", k % 3 ? "-f" : "-o",
                                               s.gallery};
        const run_result r = run_command(vistrel_binary(), args, 30);
        ASSERT_NE(r.status, -1) << "a run did not end";
        check(r);
    }
}

void check_derived(const scene &s, const std::string &album, const std::string &allowed)
{
    for (const char *dir : {"/.scaled", "/.thumbs"}) {
        std::error_code ignored;
        for (const auto &entry : std::filesystem::directory_iterator(album + dir, ignored)) {
            const std::string path = entry.path().string();
            if (path.ends_with(".tmp") || !entry.is_regular_file()) continue;
            const char colour = colour_of(path);
            EXPECT_NE(allowed.find(colour), std::string::npos)
                << path << " shows '" << colour << "'";
        }
    }
    (void)s;
}

}  // namespace

TEST(races, a_photo_swapped_for_a_link_again_and_again)
{
    const scene s;
    for (const char *name : {"p1.jpg", "p2.jpg", "p3.jpg", "z.jpg"})
        write_jpeg(s.album + "/" + name, red);
    const std::vector<uint8_t> reds = make_jpeg(red);
    const auto before = snapshot(s.outside);
    const std::string z = s.album + "/z.jpg", n = s.album + "/n",
                      secret = s.outside + "/secret.jpg";
    const std::string copy = s.album + "/c";
    {
        const swapper swap([&] {
            // Swapped again and again while the runs go on: a step that fails
            // is tried again the next time round.
            [[maybe_unused]] const int linked = symlink(secret.c_str(), n.c_str());
            rename(n.c_str(), z.c_str());
            write_whole(copy, reds);
            rename(copy.c_str(), z.c_str());
        });
        run_repeatedly(s, 3, [&](const run_result &r) {
            if (r.status != 0) {
                EXPECT_NE(r.err.find("z.jpg): Too many levels of symbolic links"),
                          std::string::npos)
                    << r.err;
            }
        });
    }
    EXPECT_EQ(snapshot(s.outside), before);
    check_derived(s, s.album, "r");
}

TEST(races, an_album_swapped_for_a_link_again_and_again)
{
    const scene s;
    for (const char *name : {"p1.jpg", "p2.jpg", "p3.jpg"}) write_jpeg(s.album + "/" + name, red);
    const auto before = snapshot(s.outside);
    const std::string a = s.album, moved = s.album + ".real", out = s.outside;
    {
        const swapper swap([&] {
            rename(a.c_str(), moved.c_str());
            [[maybe_unused]] const int linked = symlink(out.c_str(), a.c_str());
            unlink(a.c_str());
            rename(moved.c_str(), a.c_str());
        });
        run_repeatedly(s, 3, [](const run_result &) {});
    }
    EXPECT_EQ(snapshot(s.outside), before);
    check_derived(s, file_exists(s.album + "/p1.jpg") ? s.album : s.album + ".real", "r");
}

TEST(races, a_photo_rewritten_again_and_again_never_mixes)
{
    const scene s;
    write_jpeg(s.album + "/p.jpg", red);
    write_jpeg(s.album + "/q.jpg", red);
    const std::vector<uint8_t> reds = make_jpeg(solid(1600, 1200, 220, 20, 20));
    const std::vector<uint8_t> blues = make_jpeg(solid(1600, 1200, 20, 20, 220));
    const std::string p = s.album + "/p.jpg", next = s.album + "/n";
    {
        bool flip = false;
        const swapper swap([&] {
            const std::vector<uint8_t> &bytes = (flip = !flip) ? reds : blues;
            // In place half of the time, renamed over the other half.
            const bool in_place = bytes.data() == reds.data();
            write_whole(in_place ? p : next, bytes);
            if (!in_place) rename(next.c_str(), p.c_str());
        });
        run_repeatedly(s, 3, [](const run_result &r) {
            EXPECT_TRUE(r.status == 0 || r.status == 1) << r.err;
        });
    }
    check_derived(s, s.album, "rb");
}

// ---------------------------------------------------------------------------
// A photograph replaced while its derived files are written, after it was
// read: the kernel holds the opening of the first derived file until the
// test has renamed another picture over the photograph.

TEST(races, a_photo_replaced_while_its_derived_files_are_written_is_never_kept)
{
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE("-j " + std::to_string(jobs));
        const scene s;
        const std::string photo = s.album + "/p.jpg";
        write_jpeg(photo, solid(640, 480, 220, 20, 20));
        write_jpeg(s.album + "/q.jpg", red);
        ASSERT_EQ(run_vistrel({s.gallery}).status, 0);
        // The red photograph is old, its derived files older still.
        set_mtime(photo, 1000000000);
        for (const char *dir : {"/.scaled/p.jpg", "/.thumbs/p.jpg"})
            set_mtime(s.album + dir, 999999000);
        const std::string blue = s.root.file("blue.jpg");
        write_jpeg(blue, solid(800, 600, 20, 20, 220));

        // Every opening in the cache directory held; the blue picture renamed
        // over the photograph at the first opening of its temporary file.
        bool replaced = false;
        const auto replace_photo = [&](const fanotify_event_metadata &event) {
            const std::string opened =
                std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(event.fd));
            if (replaced || opened.find("/p.jpg.") == std::string::npos ||
                !opened.ends_with(".tmp"))
                return;
            replaced = true;
            if (rename(blue.c_str(), photo.c_str()) != 0) ADD_FAILURE() << "rename";
        };
        const std::optional<run_result> held =
            run_while_held({.path = s.album + "/.scaled",
                            .events = FAN_OPEN_PERM | FAN_EVENT_ON_CHILD,
                            .handle = replace_photo},
                           {"-j", std::to_string(jobs), s.gallery});
        if (!held) GTEST_SKIP() << "no fanotify permission events here";
        ASSERT_TRUE(replaced);
        const run_result &r = *held;
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("   p.jpg: changed while it was read, reading it again\n"),
                  std::string::npos)
            << r.err;
        for (const char *dir : {"/.scaled/p.jpg", "/.thumbs/p.jpg"})
            EXPECT_EQ(colour_of(s.album + dir), 'b') << dir;
        // Each derived file has its photograph's time.
        EXPECT_EQ(mtime_of(s.album + "/.scaled/p.jpg"), mtime_of(photo));

        const run_result next = run_vistrel({s.gallery});
        EXPECT_EQ(next.status, 0);
        EXPECT_EQ(next.err.find("changed while"), std::string::npos) << next.err;
        EXPECT_EQ(colour_of(s.album + "/.scaled/p.jpg"), 'b');
    }
}

// ---------------------------------------------------------------------------
// A photograph replaced after it was read and checked, before its derived
// files are put in place, by one whose time differs only within the second:
// what was derived from the one replaced is never kept.

// The modification time `seconds` plus `nanoseconds`.
void set_mtime_ns(const std::string &path, time_t seconds, long nanoseconds)
{
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) ADD_FAILURE() << "utimensat " << path;
}

// A red photograph v1.jpg in the album, and beside the gallery a blue one
// whose time differs from it only within the same second: what replaces it.
struct same_second_pair {
    std::string photo, blue;
};

same_second_pair write_same_second_pair(const scene &s)
{
    same_second_pair pair{s.album + "/v1.jpg", s.root.file("blue.jpg")};
    write_jpeg(pair.photo, solid(320, 240, 220, 20, 20));
    set_mtime_ns(pair.photo, 1700000000, 200000000);
    write_jpeg(pair.blue, solid(320, 240, 20, 20, 220));
    set_mtime_ns(pair.blue, 1700000000, 700000000);
    return pair;
}

// Derived and checked, then replaced, then placed: the road of one thread,
// taken step by step.
TEST(races, a_photo_replaced_before_its_files_are_placed_is_never_kept)
{
    const scene s;
    const auto [photo, blue] = write_same_second_pair(s);

    held_album held = hold_album(s.album);
    ASSERT_EQ(held.images.size(), 1u);
    image_info &image = held.images[0];
    result<derived_files> made = derive_image(held.dirs, image, settings_record{});
    ASSERT_TRUE(made.ok()) << made.error().text;
    ASSERT_EQ(made->written.size(), 2u);
    ASSERT_EQ(rename(blue.c_str(), photo.c_str()), 0);
    outcome placed;
    const captured_output said =
        capture_output([&] { placed = place_derived(held.dirs, image, *made, settings_record{}); });
    ASSERT_TRUE(placed.ok()) << placed.error().text;
    EXPECT_EQ(said.err,
              "   v1.jpg: still changing, its derived images are left for the next run\n");
    for (const char *dir : {"/.scaled", "/.thumbs"})
        EXPECT_EQ(list_names(s.album + dir), std::vector<std::string>{}) << dir;

    const run_result next = run_vistrel({s.gallery});
    ASSERT_EQ(next.status, 0) << next.err;
    for (const char *dir : {"/.scaled/v1.jpg", "/.thumbs/v1.jpg"})
        EXPECT_EQ(colour_of(s.album + dir), 'b') << dir;
}

// The whole run at -j 2: the photograph's files wait for a larger one listed
// before it, and it is replaced meanwhile. Whether the replacement lands
// before the check or after it, the run reports it and keeps nothing of the
// red picture.
TEST(races, a_photo_replaced_while_its_files_wait_is_never_kept)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const scene s;
        const std::string first = s.album + "/a.jpg";
        write_jpeg(first, solid(2400, 1800, 20, 220, 20));
        const auto [photo, blue] = write_same_second_pair(s);

        // The larger photograph's reading held until the smaller one's files
        // are written and, a moment later, checked; then the replacement.
        bool replaced = false;
        const auto replace_photo = [&](const fanotify_event_metadata &) {
            if (replaced) return;
            replaced = true;
            const auto written = [&](const char *dir) {
                for (const std::string &name : list_names(s.album + dir))
                    if (name.starts_with("v1.jpg.") && name.ends_with(".tmp")) return true;
                return false;
            };
            for (int wait = 0; wait < 2000 && !(written("/.scaled") && written("/.thumbs")); ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (rename(blue.c_str(), photo.c_str()) != 0) ADD_FAILURE() << "rename";
        };
        const std::optional<run_result> held =
            run_while_held({.path = first, .events = FAN_ACCESS_PERM, .handle = replace_photo},
                           {"-j", "2", s.gallery});
        if (!held) GTEST_SKIP() << "no fanotify permission events here";
        ASSERT_TRUE(replaced);
        const run_result &r = *held;
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.err.find("   v1.jpg: still changing") != std::string::npos ||
                    r.err.find("   v1.jpg: changed while it was read") != std::string::npos)
            << r.err;
        for (const char *dir : {"/.scaled/v1.jpg", "/.thumbs/v1.jpg"}) {
            if (file_exists(s.album + dir)) {
                EXPECT_EQ(colour_of(s.album + dir), 'b') << dir;
            }
        }

        const run_result next = run_vistrel({s.gallery});
        ASSERT_EQ(next.status, 0) << next.err;
        for (const char *dir : {"/.scaled/v1.jpg", "/.thumbs/v1.jpg"})
            EXPECT_EQ(colour_of(s.album + dir), 'b') << dir;
    }
}

// A photograph removed or renamed away after the listing is left out of
// this run's pages with a warning, and the run goes on.
TEST(races, a_photo_gone_after_the_listing_is_left_out)
{
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE("-j " + std::to_string(jobs));
        const scene s;
        write_jpeg(s.album + "/p.jpg", red);
        write_jpeg(s.album + "/z.jpg", red);
        held_album held = hold_album(s.album);
        ASSERT_EQ(unlink((s.album + "/z.jpg").c_str()), 0);
        settings_record config;
        config.jobs = jobs;
        result<std::vector<photo_outcome>> done = std::vector<photo_outcome>{};
        const captured_output output =
            capture_output([&] { done = process_images(held.dirs, held.images, config); });
        ASSERT_TRUE(done.ok()) << done.error().text;
        EXPECT_NE(output.err.find("   z.jpg: gone while the album was read, left out\n"),
                  std::string::npos)
            << output.err;
        for (size_t i = 0; i < held.images.size(); ++i)
            EXPECT_EQ((*done)[i] == photo_outcome::gone, held.images[i].name == "z.jpg");
        EXPECT_TRUE(file_exists(s.album + "/.scaled/p.jpg"));
        EXPECT_FALSE(file_exists(s.album + "/.scaled/z.jpg"));
    }
}

// The whole run: a photograph deleted once the album is listed (while its
// description is read) has no page, no derived file and no cell in the
// index, and the run ends with status 0.
TEST(races, a_photo_gone_after_the_listing_has_no_page)
{
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE("-j " + std::to_string(jobs));
        const scene s;
        write_jpeg(s.album + "/p.jpg", red);
        write_jpeg(s.album + "/z.jpg", red);
        write_file(s.album + "/.description", "z.jpg The one that goes\n");
        // z.jpg deleted at the first opening of the description, which waits
        // until it is gone.
        const std::string z = s.album + "/z.jpg";
        bool deleted = false;
        const auto delete_z = [&](const fanotify_event_metadata &) {
            if (std::exchange(deleted, true)) return;
            ASSERT_EQ(unlink(z.c_str()), 0);
        };
        const std::optional<run_result> held =
            run_while_held({.path = s.album + "/.description", .handle = delete_z},
                           {"-j", std::to_string(jobs), s.gallery});
        if (!held) GTEST_SKIP() << "no fanotify permission events here";
        const run_result &r = *held;
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("   z.jpg: gone while the album was read, left out\n"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.out.find("1 image processed in album"), std::string::npos) << r.out;
        EXPECT_TRUE(file_exists(s.album + "/p.jpg.html"));
        EXPECT_FALSE(file_exists(s.album + "/z.jpg.html"));
        EXPECT_FALSE(file_exists(s.album + "/.scaled/z.jpg"));
        EXPECT_EQ(read_file(s.album + "/index.html").find("z.jpg"), std::string::npos);
    }
}
