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
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/big_endian.h"
#include "base/files.h"
#include "support/heif_fixture.h"
#include "support/icc_fixture.h"
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
    // Stopped once it has begun writing, and so holds the gallery's lock.
    const std::string page_in_progress = g.file("index.html.tmp");
    const pid_t first = start_and_stop_at({"-j", "1", g.path}, page_in_progress);
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

    EXPECT_EQ(resume_and_wait(first), 0);

    // A run killed outright leaves no lock behind.
    const pid_t killed = start_and_stop_at({"-f", g.path}, page_in_progress);
    ASSERT_GT(killed, 0);
    kill(killed, SIGKILL);
    waitpid(killed, nullptr, 0);
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
                                    a + "/.scaled/x.jpg", a + "/.thumbs/x.jpg"})
        EXPECT_TRUE(is_regular_file(path)) << path;
    // Pages are written under those names, and what was planted there goes
    // first; a derived image's temporary name carries the run's own tag, so
    // what was planted under the plain one is no business of the run's.
    for (const std::string &path : {a + "/x.jpg.html", a + "/index.html", g.file("index.html")})
        EXPECT_FALSE(file_exists(path + ".tmp")) << path;
    EXPECT_TRUE(is_symlink(a + "/.scaled/x.jpg.tmp"));
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
        EXPECT_EQ(r.err, "vistrel: " + c.message(a) + "vistrel: 1 album could not be made\n");
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

size_t occurrences(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
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
    const std::vector<std::string> names = list_names(a);
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
    EXPECT_EQ(list_names(a), names);
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

// Every scan of a progressive JPEG costs a pass over the coefficients of the
// whole picture, however few bytes it takes: a file of more scans than any
// encoder writes is refused as it is read, a failure of its own that -k
// leaves out. One just within the bound is made as its one-scan twin is.
TEST(hostile, a_jpeg_of_too_many_scans_is_refused)
{
    const struct {
        int scans;
        bool refused;
    } cases[] = {{100, false}, {101, true}};
    for (const auto &c : cases) {
        for (const bool keep_going : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.scans << " scans, -k " << keep_going);
            temp_dir g;
            const std::string a = g.file("a");
            make_dir(a);
            const jpeg_recipe recipe{.width = 200, .height = 150, .components = 1};
            write_jpeg(a + "/twin.jpg", recipe);
            jpeg_recipe scripted = recipe;
            scripted.scans = c.scans;
            const std::string path = a + "/scans.jpg";
            write_jpeg(path, scripted);
            std::vector<std::string> args = {g.path};
            if (keep_going) args.insert(args.begin(), "-k");
            const run_result r = run_vistrel(args);
            const std::string refusal =
                std::string(keep_going ? "vistrel: left out " : "vistrel: ") + path +
                ": more than 100 scans: not decoded\n";
            EXPECT_EQ(r.err.find(refusal) != std::string::npos, c.refused) << r.err;
            EXPECT_EQ(r.status, c.refused ? 1 : 0) << r.err;
            for (const char *dir : {"/.scaled/", "/.thumbs/"}) {
                EXPECT_EQ(file_exists(a + dir + "scans.jpg"), !c.refused) << dir;
                if (!c.refused) {
                    EXPECT_EQ(read_file(a + dir + "scans.jpg"), read_file(a + dir + "twin.jpg"));
                }
            }
            if (c.refused && keep_going) {
                EXPECT_TRUE(r.err.ends_with(
                    "vistrel: 1 photo could not be read and was left out: a/scans.jpg\n"))
                    << r.err;
                EXPECT_TRUE(file_exists(a + "/.thumbs/twin.jpg"));
                EXPECT_EQ(read_file(a + "/index.html").find("scans.jpg"), std::string::npos);
            }
        }
    }
}

// What a photograph claims is its colour profile travels into every derived
// image only when it is one: of a sane size, read by lcms2 at a cost in
// keeping with its bytes, of a class and colour space fit for the picture.
// Anything else is left out with one warning, and the derived images are
// untagged.
TEST(hostile, colour_profiles_are_carried_only_when_fit)
{
    const std::vector<uint8_t> p3 = display_p3_profile();
    std::vector<uint8_t> random(3000);
    std::mt19937 draw(27);
    for (uint8_t &byte : random) byte = static_cast<uint8_t>(draw());
    std::vector<uint8_t> size_lies = p3;
    size_lies[3] = static_cast<uint8_t>(size_lies[3] + 1);
    // The header and tag table intact, every tag's data garbage.
    std::vector<uint8_t> bad_tags = p3;
    const size_t tags = (size_t{bad_tags[130]} << 8) | bad_tags[131];
    std::fill(bad_tags.begin() + 132 + static_cast<std::ptrdiff_t>(tags * 12), bad_tags.end(),
              0xFF);
    const std::vector<uint8_t> large = display_p3_profile(2 * 1024 * 1024);
    ASSERT_GT(large.size(), 2u * 1024 * 1024);
    // Small, and each would cost lcms2 seconds or half a gigabyte: ten
    // thousand positions naming one element, a table that claims 255^3
    // entries of 15 samples and holds none.
    const std::vector<uint8_t> many_elements = with_tag(p3, "D2B1", multi_process_elements(10000));
    const std::vector<uint8_t> huge_table = with_tag(p3, "A2B1", lut_claiming_table(255, 15));
    std::vector<uint8_t> tags_past_end = p3;
    tags_past_end[129] = 0x10;  // a million tags

    const std::string not_icc = "not an ICC profile";
    const std::string wrong_space = "not a profile of the picture's colour space";
    const std::string elements = "a profile with multi-process elements";
    const struct {
        const char *name;
        std::vector<uint8_t> profile;
        std::string fault;  // empty: carried as it is
        int components = 3;
    } cases[] = {
        {"p3.jpg", p3, ""},
        {"random.jpg", random, not_icc},
        {"size lies.jpg", size_lies, not_icc},
        {"bad tags.jpg", bad_tags, "a profile lcms2 cannot use"},
        {"grey profile.jpg", grey_profile(), wrong_space},
        {"grey picture.jpg", grey_profile(), "", 1},
        {"p3 on grey.jpg", p3, wrong_space, 1},
        {"abstract.jpg", abstract_lab_profile(), "not a profile an image can be tagged with"},
        {"large.jpg", large, "larger than 1048576 bytes"},
        {"many elements.jpg", many_elements, elements},
        {"one B2D0 element.jpg", with_tag(p3, "B2D0", multi_process_elements(1)), elements},
        {"huge table.jpg", huge_table, "a profile lcms2 cannot use"},
        {"tags past its end.jpg", tags_past_end, not_icc},
        {"many elements.heic", many_elements, elements},
        {"p3.avif", p3, ""},
        {"random.heic", random, not_icc},
        {"large.avif", large, "larger than 1048576 bytes"},
        {"grey profile.avif", grey_profile(), wrong_space},
    };
    temp_dir g;
    const std::string a = g.file("a");
    make_dir(a);
    for (const auto &c : cases) {
        const std::string path = a + "/" + c.name;
        if (std::string(c.name).ends_with(".jpg"))
            write_jpeg(path, {.width = 80,
                              .height = 60,
                              .components = c.components,
                              .icc = icc_recipe{.profile = c.profile}});
        else
            write_heif(path,
                       {.format = std::string(c.name).ends_with(".avif") ? heif_recipe::codec::av1
                                                                         : heif_recipe::codec::hevc,
                        .width = 80,
                        .height = 60,
                        .icc_profile = c.profile});
    }
    for (const char *jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        const run_result r = run_vistrel({"-f", "-i", "-j", jobs, g.path});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const auto &c : cases) {
            SCOPED_TRACE(c.name);
            const std::string derived = std::string(c.name).ends_with(".jpg")
                                            ? std::string(c.name)
                                            : std::string(c.name) + ".jpg";
            const std::string warning = "vistrel: " + a + "/" + c.name +
                                        ": colour profile left out: " + c.fault + "\n";
            EXPECT_EQ(occurrences(r.err, warning), c.fault.empty() ? 0 : 1) << r.err;
            for (const char *dir : {"/.scaled/", "/.thumbs/"})
                EXPECT_EQ(decode_jpeg(a + dir + derived).icc_profile,
                          c.fault.empty() ? c.profile : std::vector<uint8_t>{});
        }
    }
}

// Writes the JPEG file with `count` APP2 markers of the largest size right
// after its SOI, each starting with the bytes header(i) gives and the rest
// a hole: a gigabyte of them takes 64 MB of disk.
void write_with_app2_markers(const std::string &path, const std::vector<uint8_t> &jpeg, int count,
                             std::vector<uint8_t> (*header)(int))
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, jpeg.data(), 2, 0), 2);
    constexpr off_t marker_size = 2 + 0xFFFF;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> start = {0xFF, 0xE2, 0xFF, 0xFF};
        const std::vector<uint8_t> head = header(i);
        start.insert(start.end(), head.begin(), head.end());
        const auto size = static_cast<ssize_t>(start.size());
        ASSERT_EQ(pwrite(fd, start.data(), start.size(), 2 + i * marker_size), size);
    }
    const auto rest = static_cast<ssize_t>(jpeg.size() - 2);
    ASSERT_EQ(pwrite(fd, jpeg.data() + 2, jpeg.size() - 2, 2 + count * marker_size), rest);
    close(fd);
}

// The header of an ICC profile's APP2 marker: its number, then the count.
std::vector<uint8_t> icc_marker_header(int number, int count)
{
    std::vector<uint8_t> header = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
    header.push_back(static_cast<uint8_t>(number));
    header.push_back(static_cast<uint8_t>(count));
    return header;
}

// Display P3 padded with zeros to `size` bytes, its header saying so.
std::vector<uint8_t> padded_p3_profile(size_t size)
{
    std::vector<uint8_t> profile = display_p3_profile();
    profile.resize(size);
    for (int i = 0; i < 4; ++i) profile[i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    return profile;
}

// A JPEG file's APP2 markers are kept only while they make up an ICC profile
// of at most 1 MiB: the rest are skipped unread, so a gigabyte of them costs
// what the picture costs (and the EXIF data behind them is found as ever).
// A profile too large, or markers that do not fit together, are left out
// with the same warning as ever, once.
TEST(hostile, app2_markers_are_kept_only_up_to_the_largest_profile)
{
    const std::vector<uint8_t> p3 = display_p3_profile();
    using header_of = std::vector<uint8_t> (*)(int);
    const header_of no_header = [](int) { return std::vector<uint8_t>{}; };
    const struct {
        const char *name;
        std::vector<uint8_t> profile;  // the file's own, if any
        int markers;                   // APP2 markers of the largest size before it
        header_of header;
        std::string warning;  // after "vistrel: <path>: "
        bool carried;
    } cases[] = {
        {"p3.jpg", p3, 0, no_header, "", true},
        {"a profile of 1 MiB.jpg", padded_p3_profile(1024 * 1024), 0, no_header, "", true},
        {"a profile of 1 MiB and a byte.jpg", padded_p3_profile(1024 * 1024 + 1), 0, no_header,
         "colour profile left out: larger than 1048576 bytes", false},
        // 255 markers, all the numbers there are, of 65519 bytes each.
        {"the largest profile markers hold.jpg",
         {},
         255,
         [](int i) { return icc_marker_header(i + 1, 255); },
         "colour profile left out: larger than 1048576 bytes",
         false},
        {"a gigabyte of other APP2 markers.jpg", p3, 16384, no_header, "", true},
        {"a gigabyte of profile markers.jpg",
         {},
         16384,
         [](int i) { return icc_marker_header(i % 255 + 1, 255); },
         "Corrupt JPEG data: bad ICC marker",
         false},
    };
    temp_dir g;
    const std::string a = g.file("a");
    make_dir(a);
    for (const auto &c : cases) {
        jpeg_recipe recipe{.width = 80, .height = 60, .exif = exif_recipe{.model = "M"}};
        if (!c.profile.empty()) recipe.icc = icc_recipe{.profile = c.profile};
        write_with_app2_markers(a + "/" + c.name, make_jpeg(recipe), c.markers, c.header);
    }
    const run_result r = run_vistrel({g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    // The EXIF data after the markers is found all the same.
    EXPECT_EQ(r.err.find("no EXIF data found"), std::string::npos) << r.err;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string warning = "vistrel: " + a + "/" + c.name + ": " + c.warning + "\n";
        EXPECT_EQ(occurrences(r.err, warning), c.warning.empty() ? 0 : 1) << r.err;
        for (const char *dir : {"/.scaled/", "/.thumbs/"}) {
            EXPECT_EQ(decode_jpeg(a + dir + c.name).icc_profile,
                      c.carried ? c.profile : std::vector<uint8_t>{});
            // Markers skipped change nothing of what is made.
            if (c.profile == p3) {
                EXPECT_EQ(read_file(a + dir + c.name), read_file(a + dir + "p3.jpg"));
            }
        }
    }
}

// A HEIF or AVIF file costs what libheif really decodes, whatever its ispe
// box states: a grid header claiming more is refused or accounted at its
// size, and a picture that decodes to another size than the pages would
// state, or to none, fails with a message that says so. An Exif item is
// read only when it is of a sane size.
TEST(hostile, heif_files_cost_what_libheif_decodes)
{
    using codec = heif_recipe::codec;
    // One 64 x 64 tile in a grid that shows 48 x 48 of it.
    const auto grid = [](int width, int height, uint32_t ispe_width, uint32_t ispe_height) {
        std::vector<uint8_t> bytes = make_heif({.width = 48, .height = 48});
        set_grid_size(bytes, width, height);
        set_ispe(bytes, 1, ispe_width, ispe_height);  // the grid's own, after the tile's
        return bytes;
    };
    // x265 codes at least 64 x 64 pixels, else libheif makes a grid.
    const auto lying = [](codec format, uint32_t width, uint32_t height) {
        std::vector<uint8_t> bytes = make_heif({.format = format, .width = 128, .height = 96});
        set_ispe(bytes, 0, width, height);
        return bytes;
    };
    std::vector<uint8_t> large_exif(2 * 1024 * 1024 + 10, 0);
    const std::vector<uint8_t> block = exif_block({.model = "M"});
    std::copy(block.begin() + 6, block.end(), large_exif.begin() + 4);  // offset 0: TIFF at once
    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
        std::string fault;  // after "vistrel: <path>: "; empty: the run succeeds
    } cases[] = {
        {"huge grid.heic", grid(32000, 24000, 32000, 24000),
         "too large to decode: 32000x24000 pixels"},
        // A canvas other than the stated size is known before decoding.
        {"huge grid stated small.heic", grid(32000, 24000, 16, 16),
         "decodes to 32000x24000 pixels, not the 16x16 its header states"},
        {"grid larger than stated.heic", grid(2048, 1536, 48, 48),
         "decodes to 2048x1536 pixels, not the 48x48 its header states"},
        {"huge grid stated small.avif",
         [] {
             std::vector<uint8_t> bytes = make_av1_grid();
             set_grid_size(bytes, 32000, 24000);
             set_ispe(bytes, 1, 16, 16);
             return bytes;
         }(),
         "decodes to 32000x24000 pixels, not the 16x16 its header states"},
        {"honest grid.avif", make_av1_grid(), ""},
        {"no size.heic", grid(48, 48, 0, 0), "its header states a picture of 0x0 pixels"},
        {"no size.avif", lying(codec::av1, 0, 0), "its header states a picture of 0x0 pixels"},
        {"lying.avif", lying(codec::av1, 16, 16),
         "decodes to 128x96 pixels, not the 16x16 its header states"},
        {"lying.heic", lying(codec::hevc, 16, 16),
         "decodes to 128x96 pixels, not the 16x16 its header states"},
        {"large exif.heic", make_heif({.width = 80, .height = 60, .exif_item = large_exif}), ""},
    };
    for (const auto &c : cases) {
        for (const char *jobs : {"1", "2"}) {
            SCOPED_TRACE(std::string(c.name) + ", -j " + jobs);
            temp_dir g;
            const std::string a = g.file("a");
            make_dir(a);
            write_jpeg(a + "/honest.jpg", {.width = 80, .height = 60});
            const std::string path = a + "/" + c.name;
            write_file(path, std::string(c.bytes.begin(), c.bytes.end()));
            const run_result r = run_command(vistrel_binary(), {"-i", "-j", jobs, g.path}, 60);
            if (!c.fault.empty()) {
                EXPECT_EQ(r.status, 1);
                EXPECT_TRUE(
                    r.err.ends_with("vistrel: " + path + ": " + c.fault +
                                    "\n"
                                    "use -k to leave unreadable photos out and make the rest\n"))
                    << r.err;
                EXPECT_FALSE(file_exists(a + "/.thumbs/" + c.name + ".jpg"));
                continue;
            }
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.err.find(std::string("   ") + c.name + ": no EXIF data found\n"),
                      std::string::npos);
            EXPECT_EQ(decode_jpeg(a + "/.thumbs/" + c.name + ".jpg").height, 96);
        }
    }
}

// libheif reads every box of a HEIF file but its coded data into memory as
// large as the box claims: a file made sparse behind a box claiming
// gigabytes is refused before libheif reads a byte of it, and coded data of
// any size is no such box.
TEST(hostile, heif_boxes_beside_the_coded_data_are_bounded)
{
    const std::vector<uint8_t> honest = make_heif({.width = 128, .height = 96});
    const size_t ftyp_size = big_endian_32(honest.data());
    ASSERT_LT(ftyp_size, 64u);
    // A box header with a 64-bit size.
    const auto header = [](uint64_t size, const char *type) {
        std::vector<uint8_t> box(16, 0);
        box[3] = 1;
        for (size_t i = 0; i < 4; ++i) box[4 + i] = uint8_t(type[i]);
        for (size_t i = 0; i < 8; ++i) box[8 + i] = uint8_t(size >> (56 - 8 * i));
        return box;
    };
    // head, then a hole of `hole` bytes, then tail.
    struct sparse {
        std::vector<uint8_t> head;
        uint64_t hole = 0;
        std::vector<uint8_t> tail;
    };
    const auto claiming_ftyp = [&](uint64_t hole) {
        sparse file{header(16 + ftyp_size - 8 + hole, "ftyp"), hole, {}};
        file.head.insert(file.head.end(), honest.begin() + 8, honest.begin() + long(ftyp_size));
        file.tail.assign(honest.begin() + long(ftyp_size), honest.end());
        return file;
    };
    const auto trailing = [&](const char *type, uint64_t hole) {
        sparse file{honest, hole, {}};
        const std::vector<uint8_t> box = header(16 + hole, type);
        file.head.insert(file.head.end(), box.begin(), box.end());
        return file;
    };
    const struct {
        const char *name;
        sparse file;
        bool refused;
    } cases[] = {
        {"ftyp of 4 GiB.heic", claiming_ftyp(uint64_t{4} << 30), true},
        {"moov of 64 MiB.heic", trailing("moov", uint64_t{64} << 20), true},
        {"mdat of 4 GiB.heic", trailing("mdat", uint64_t{4} << 30), false},
    };
    temp_dir g;
    const std::string a = g.file("a");
    make_dir(a);
    for (const auto &c : cases) {
        const unique_fd fd(open((a + "/" + c.name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        ASSERT_TRUE(fd);
        const off_t tail_at = off_t(c.file.head.size() + c.file.hole);
        ASSERT_EQ(write(fd.fd, c.file.head.data(), c.file.head.size()),
                  ssize_t(c.file.head.size()));
        ASSERT_EQ(ftruncate(fd.fd, tail_at), 0);
        ASSERT_EQ(pwrite(fd.fd, c.file.tail.data(), c.file.tail.size(), tail_at),
                  ssize_t(c.file.tail.size()));
    }
    const run_result r = run_command(vistrel_binary(), {"-k", "-i", g.path}, 60);
    EXPECT_EQ(r.status, 1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string said = a + "/" + c.name + ": boxes of ";
        const size_t at = r.err.find(said);
        EXPECT_EQ(at != std::string::npos, c.refused) << r.err;
        if (at != std::string::npos) {
            EXPECT_NE(r.err.find(" bytes beside the coded data, more than the 16777216 allowed\n",
                                 at),
                      std::string::npos)
                << r.err;
        }
        EXPECT_EQ(file_exists(a + "/.thumbs/" + c.name + ".jpg"), !c.refused);
    }
}

// A .description is read no further than its first 16 MiB: one made sparse
// to 15 TiB, which would take hours to read through, costs what that costs,
// and a caption beyond the bound is not seen.
TEST(hostile, a_description_is_read_up_to_a_bound)
{
    const std::string head = ". The title\nx.jpg An early caption\n";
    // The last line ends at the file's end: seen only when the whole file
    // is read.
    const std::string late = "\ny.jpg A late caption\n";
    const struct {
        const char *what;
        off_t length;  // the file made sparse to this length
        bool cut;      // longer than the bound
    } cases[] = {
        {"15 TiB", off_t{15} << 40, true},
        {"its last line just past the bound", (off_t{16} << 20) + static_cast<off_t>(late.size()),
         true},
        {"its last line ending at the bound", off_t{16} << 20, false},
    };
    for (const auto &c : cases) {
        for (const char *jobs : {"1", "2"}) {
            SCOPED_TRACE(std::string(c.what) + ", -j " + jobs);
            temp_dir g;
            const std::string a = g.file("a");
            make_dir(a);
            write_jpeg(a + "/x.jpg", {.width = 40, .height = 30});
            write_jpeg(a + "/y.jpg", {.width = 40, .height = 30});
            const std::string path = a + "/.description";
            write_file(path, head);
            const int fd = open(path.c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(ftruncate(fd, c.length), 0);
            ASSERT_EQ(pwrite(fd, late.data(), late.size(),
                             c.length - static_cast<off_t>(late.size())),
                      static_cast<ssize_t>(late.size()));
            close(fd);

            const run_result r = run_command(vistrel_binary(), {"-j", jobs, g.path}, 60);
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string warning = "   " + path +
                                        ": longer than 16 MiB, the rest is ignored\n";
            EXPECT_EQ(r.err.find(warning) != std::string::npos, c.cut) << r.err;
            EXPECT_NE(r.out.find("in album 'The title'"), std::string::npos) << r.out;
            EXPECT_NE(read_file(a + "/x.jpg.html").find("An early caption"), std::string::npos);
            EXPECT_EQ(read_file(a + "/y.jpg.html").find("A late caption") != std::string::npos,
                      !c.cut);
        }
    }
}

// A HEIF photograph's derived names and page are shortened separately when
// its name is long: once it is gone, its page goes with its derived files,
// whatever characters the cuts fall between, and no page of a photograph
// still there goes with them.
TEST(hostile, pages_of_removed_long_named_heif_photos_are_orphans)
{
    std::string accented, odd = "a";
    for (int i = 0; i < 125; ++i) accented += "\xc3\xa9";
    for (int i = 0; i < 124; ++i) odd += "\xc3\xa9";
    const std::vector<std::string> removed = {
        std::string(250, 'L') + ".heic",  // 255 bytes
        std::string(246, 'M') + ".avif",  // its derived name just fits, its page not
        accented + ".heic",               // 255 bytes, two a character
        odd + ".heif",                    // the cuts fall one byte apart
    };
    const std::string kept = std::string(249, 'L') + ".heic";  // the same prefix
    for (const char *jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        temp_dir g;
        const std::string a = g.file("a");
        make_dir(a);
        write_jpeg(a + "/x.jpg", {.width = 40, .height = 30});
        for (const std::string &name : removed)
            write_heif(a + "/" + name, {.width = 48, .height = 48});
        write_heif(a + "/" + kept, {.width = 48, .height = 48});
        ASSERT_EQ(run_vistrel({"-i", "-j", jobs, g.path}).status, 0);
        // Each photograph and its page, index.html and the cache directories.
        ASSERT_EQ(list_names(a).size(), 2 * (removed.size() + 2) + 3);

        for (const std::string &name : removed) fs::remove(a + "/" + name);
        const run_result r = run_vistrel({"-i", "-j", jobs, g.path});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(list_names(a), (std::vector<std::string>{".scaled", ".thumbs", kept,
                                                           fitted_name(255, kept, ".html"),
                                                           "index.html", "x.jpg", "x.jpg.html"}));
        for (const std::string &name : removed)
            EXPECT_NE(r.out.find("deleted orphan " + a + "/" + fitted_name(255, name, ".html") +
                                 "\n"),
                      std::string::npos)
                << name;
        EXPECT_EQ(list_names(a + "/.thumbs"),
                  (std::vector<std::string>{fitted_name(255, kept, ".jpg"), "x.jpg"}));
    }
}

// Temporary derived files left by a killed run are removed by the next run,
// which holds the lock: only regular files of the exact names the run gives
// them, in the cache directories; nothing else there, and no link followed.
TEST(hostile, leftovers_of_killed_runs_are_removed)
{
    const std::string tag = "~0123456789abcdef.tmp";
    const struct {
        std::string name;
        bool removed;
    } cases[] = {
        {"gone.jpg.tmp", true},
        {"x.jpg.tmp", true},
        {"IMG_0001.HEIC.jpg.tmp", true},
        {"UPPER.JPEG.tmp", true},
        {std::string(255 - tag.size(), 'L') + tag, true},  // a shortened name
        {std::string(252 - tag.size(), 'L') + tag, true},  // cut back before a character
        // With a run's own tag, as runs sharing the lock name them.
        {"x.jpg.0123abcd.tmp", true},
        {std::string(255 - tag.size() - 9, 'L') + "~0123456789abcdef.89abcdef.tmp", true},
        {"x.jpg.0123abcg.tmp", false},
        {"x.jpg.0123abc.tmp", false},
        {"notes.0123abcd.tmp", false},
        {"short" + tag, false},  // no name is shortened to that
        {"notes.tmp", false},
        {"x.png.tmp", false},
        {"x.jpg.tmp.bak", false},
        {"y.jpg", false},
        {"~0123456789abcdeg.tmp", false},
    };
    for (const char *jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        temp_dir g, outside;
        const std::string a = g.file("a");
        make_dir(a);
        write_jpeg(a + "/x.jpg", {.width = 40, .height = 30});
        const std::string victim = outside.file("victim.jpg");
        write_file(victim, "precious");
        for (const char *dir : {"/.scaled", "/.thumbs", "/.scaled2x", "/.thumbs2x"}) {
            make_dir(a + dir);
            for (const auto &c : cases) write_file(a + dir + "/" + c.name, "left over");
            // Not regular files: a link and a directory of a temporary name.
            ASSERT_EQ(symlink(victim.c_str(), (a + dir + "/linked.jpg.tmp").c_str()), 0);
            make_dir(a + dir + "/dir.jpg.tmp");
        }
        // The album itself is no cache directory.
        write_file(a + "/gone.jpg.tmp", "left over");

        const run_result r = run_vistrel({"-2", "-o", "-j", jobs, g.path});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const char *dir : {"/.scaled", "/.thumbs", "/.scaled2x", "/.thumbs2x"}) {
            SCOPED_TRACE(dir);
            for (const auto &c : cases)
                EXPECT_EQ(file_exists(a + dir + "/" + c.name), !c.removed) << c.name;
            EXPECT_TRUE(is_symlink(a + dir + "/linked.jpg.tmp"));
            EXPECT_TRUE(file_exists(a + dir + "/dir.jpg.tmp"));
        }
        EXPECT_TRUE(file_exists(a + "/gone.jpg.tmp"));
        EXPECT_EQ(read_file(victim), "precious");
        EXPECT_EQ(decode_jpeg(a + "/.thumbs/x.jpg").height, 96);
    }
}

}  // namespace
