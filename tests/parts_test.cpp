// -p K/N: a gallery's images dealt to N part runs that derive them side by
// side, then one full run that finds them fresh and writes the pages.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "album/partition.h"
#include "base/settings.h"
#include "run/options.h"
#include "support/gallery_snapshot.h"
#include "support/heif_fixture.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"
#include "support/video_fixture.h"

namespace {

namespace fs = std::filesystem;

// The parts' images of a gallery whose albums hold `albums` images each, in
// the gallery's order: image j of album a is "a:j".
std::vector<std::vector<std::string>> deal(const std::vector<size_t> &albums, int32_t count)
{
    std::vector<std::vector<std::string>> parts(static_cast<size_t>(count));
    for (int32_t k = 1; k <= count; ++k) {
        int64_t first = 0;
        for (size_t a = 0; a < albums.size(); ++a) {
            for (const size_t j : images_in_part(albums[a], first, {k, count}))
                parts[static_cast<size_t>(k - 1)].push_back(std::to_string(a) + ":" +
                                                            std::to_string(j));
            first += static_cast<int64_t>(albums[a]);
        }
    }
    return parts;
}

TEST(parts, images_are_dealt_in_turn_across_albums)
{
    using parts_list = std::vector<std::vector<std::string>>;
    const struct {
        std::vector<size_t> albums;
        int32_t count;
        parts_list parts;
    } cases[] = {
        {{3}, 1, {{"0:0", "0:1", "0:2"}}},
        {{5}, 2, {{"0:0", "0:2", "0:4"}, {"0:1", "0:3"}}},
        // More parts than images: the last ones get none.
        {{2}, 4, {{"0:0"}, {"0:1"}, {}, {}}},
        {{}, 3, {{}, {}, {}}},
        // The turn goes on from one album to the next.
        {{3, 2, 4}, 4, {{"0:0", "1:1", "2:3"}, {"0:1", "2:0"}, {"0:2", "2:1"}, {"1:0", "2:2"}}},
        // Empty albums take no turn.
        {{0, 2, 0, 0, 3, 0}, 2, {{"1:0", "4:0", "4:2"}, {"1:1", "4:1"}}},
        {{1, 1, 1, 1, 1}, 3, {{"0:0", "3:0"}, {"1:0", "4:0"}, {"2:0"}}},
    };
    for (const auto &c : cases) {
        std::ostringstream name;
        for (const size_t n : c.albums) name << n << ' ';
        name << "in " << c.count;
        EXPECT_EQ(deal(c.albums, c.count), c.parts) << name.str();
    }
}

// Whatever the albums, every image is in exactly one part, and the parts
// differ by at most one image.
TEST(parts, every_image_in_one_part_and_parts_even)
{
    const std::vector<size_t> albums = {7, 0, 1, 12, 3, 0, 5, 9};
    size_t total = 0;
    for (const size_t n : albums) total += n;
    for (int32_t count = 1; count <= 40; ++count) {
        std::multiset<std::string> all;
        size_t least = total, most = 0;
        for (const std::vector<std::string> &part : deal(albums, count)) {
            all.insert(part.begin(), part.end());
            least = std::min(least, part.size());
            most = std::max(most, part.size());
        }
        EXPECT_EQ(all.size(), total) << count;
        EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), total) << count;
        EXPECT_LE(most - least, 1u) << count;
    }
}

// Three albums of photographs of several sizes and one empty album, a
// description, and an orphan left by a photograph that has gone.
void fill_gallery(const std::string &root)
{
    for (const char *album : {"a", "b", "c", "empty"}) make_dir(root + "/" + album);
    const int counts[] = {5, 2, 6};
    const char *albums[] = {"a", "b", "c"};
    for (int a = 0; a < 3; ++a)
        for (int i = 0; i < counts[a]; ++i)
            write_jpeg(root + "/" + albums[a] + "/p" + std::to_string(i) + ".jpg",
                       {.width = 200 + 40 * i,
                        .height = 150 + 10 * a,
                        .seed = static_cast<uint32_t>(10 * a + i),
                        .exif = exif_recipe{.model = "Camera", .taken = "2024:05:06 07:08:09"}});
    write_file(root + "/b/.description", ". Harbour\np1.jpg The boats\n");
    make_dir(root + "/c/.scaled");
    write_file(root + "/c/.scaled/gone.jpg", "orphan");
}

// The "Image" lines of a run's output, as a set of paths.
std::set<std::string> images_named(const std::string &out)
{
    std::set<std::string> named;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.starts_with("Image ")) << line;
        named.insert(line.substr(6));
    }
    return named;
}

// Parts side by side, then the pages: the same files, byte for byte, as one
// run on one machine; each part says only the images it derives.
TEST(parts, then_a_full_run_gives_what_one_run_gives)
{
    for (const std::vector<std::string> &options :
         {std::vector<std::string>{}, {"-2", "-C", "-n", "-H", "240", "-s", "size"}}) {
        temp_dir whole, split;
        fill_gallery(whole.path);
        fill_gallery(split.path);
        std::vector<std::string> args = options;
        args.push_back(whole.path);
        const run_result one = run_vistrel(args);
        ASSERT_EQ(one.status, 0) << one.err;

        std::set<std::string> derived;
        size_t lines = 0;
        for (int k = 1; k <= 4; ++k) {
            args = options;
            args.insert(args.begin(), {"-p", std::to_string(k) + "/4", "-j", "1"});
            args.push_back(split.path);
            const run_result part = run_vistrel(args);
            EXPECT_EQ(part.status, 0) << part.err;
            EXPECT_EQ(part.err, "");
            const std::set<std::string> named = images_named(part.out);
            EXPECT_GE(named.size(), 3u);
            EXPECT_LE(named.size(), 4u);
            lines += named.size();
            derived.insert(named.begin(), named.end());
        }
        EXPECT_EQ(lines, 13u);
        EXPECT_EQ(derived.size(), 13u);
        // Derived files only: no page, and the orphan is still there.
        for (const auto &[name, bytes] : snapshot(split.path))
            EXPECT_FALSE(name.ends_with(".html")) << name;
        EXPECT_TRUE(file_exists(split.file("c/.scaled/gone.jpg")));
        for (const char *made : {"a/.scaled/p0.jpg", "b/.thumbs/p1.jpg", "c/.scaled/p5.jpg"})
            EXPECT_TRUE(file_exists(split.file(made))) << made;

        // The full run finds every derived image fresh.
        const auto before = fs::last_write_time(split.file("a/.scaled/p3.jpg"));
        args = options;
        args.push_back(split.path);
        const run_result pages = run_vistrel(args);
        EXPECT_EQ(pages.status, 0) << pages.err;
        EXPECT_EQ(fs::last_write_time(split.file("a/.scaled/p3.jpg")), before);
        EXPECT_EQ(snapshot(split.path), snapshot(whole.path));
        EXPECT_FALSE(file_exists(split.file("c/.scaled/gone.jpg")));
    }
}

// A part run on a gallery already derived only checks; with -f it derives
// its part again.
TEST(parts, freshness_as_in_a_full_run)
{
    temp_dir g;
    fill_gallery(g.path);
    ASSERT_EQ(run_vistrel({g.path}).status, 0);
    const std::string thumb = g.file("a/.thumbs/p2.jpg");  // image 2: part 3 of 4
    set_mtime(thumb, 2000000000);
    const run_result again = run_vistrel({"-p", "3/4", g.path});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(images_named(again.out).count(g.file("a/p2.jpg")), 1u);
    EXPECT_EQ(mtime_of(thumb), 2000000000);
    const run_result forced = run_vistrel({"-f", "-p", "3/4", g.path});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_LT(mtime_of(thumb), 2000000000);
}

// A bad photograph fails its own part, with the usual message and status,
// and no other.
TEST(parts, a_bad_photograph_fails_its_part)
{
    temp_dir g;
    fill_gallery(g.path);
    write_file(g.file("b/p0.jpg"), "this is not a JPEG file");  // image 5: part 2 of 4
    for (int k = 1; k <= 4; ++k) {
        const run_result part = run_vistrel({"-p", std::to_string(k) + "/4", g.path});
        if (k == 2) {
            EXPECT_EQ(part.status, 1);
            EXPECT_EQ(part.err, "vistrel: " + g.path +
                                    "/b/p0.jpg: Not a JPEG file: starts with 0x74 0x68\n"
                                    "use -k to leave unreadable photos out and make the rest\n");
        } else {
            EXPECT_EQ(part.status, 0) << k << part.err;
        }
    }
}

// An album at fault itself is left out by the parts that derive from it,
// which still count its images: the albums after it are dealt alike in
// every part, whether it looked into that album or not.
TEST(parts, an_album_at_fault_is_left_out_and_still_dealt)
{
    temp_dir g;
    // Images 0 (part 1), 1 (part 2: the album at fault), 2 and 3.
    for (const auto &[album, images] : {std::pair{"a", 1}, {"b", 1}, {"c", 2}}) {
        make_dir(g.file(album));
        for (int i = 0; i < images; ++i)
            write_jpeg(g.file(album) + "/p" + std::to_string(i) + ".jpg",
                       {.width = 64, .height = 48, .exif = exif_recipe{.model = "C"}});
    }
    write_file(g.file("b/.thumbs"), "in the way");
    const run_result first = run_vistrel({"-p", "1/2", g.path});
    EXPECT_EQ(first.status, 0) << first.err;
    const run_result second = run_vistrel({"-p", "2/2", g.path});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "vistrel: " + g.path +
                              "/b/.thumbs exists, but is not a directory\n"
                              "vistrel: 1 album could not be made\n");
    for (const char *made : {"a/.thumbs/p0.jpg", "c/.thumbs/p0.jpg", "c/.thumbs/p1.jpg"})
        EXPECT_TRUE(file_exists(g.file(made))) << made;
    EXPECT_FALSE(file_exists(g.file("b/.scaled/p0.jpg")));
}

// A gallery of photographs large enough that a run can be caught holding
// the lock.
void build_big_gallery(const std::string &gallery)
{
    make_dir(gallery + "/album");
    for (int i = 0; i < 24; ++i)
        write_jpeg(gallery + "/album/img" + std::to_string(10 + i) + ".jpg",
                   {.width = 1200, .height = 900, .seed = static_cast<uint32_t>(i + 1)});
}

// Parts share the gallery's lock; a full run holds it alone.
TEST(parts, share_the_lock_that_a_full_run_holds_alone)
{
    temp_dir g;
    build_big_gallery(g.path);
    const std::string busy = "vistrel: '" + g.path + "' is being updated by another run\n";

    // The first part's first image, made while the lock is held.
    const pid_t first_part =
        start_and_stop_at({"-j", "1", "-p", "1/2", g.path}, g.file("album/.thumbs/img10.jpg"));
    ASSERT_GT(first_part, 0);
    const run_result full = run_vistrel({g.path});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.out, "");
    EXPECT_EQ(full.err, busy);
    const run_result second_part = run_vistrel({"-j", "1", "-p", "2/2", g.path});
    EXPECT_EQ(second_part.status, 0) << second_part.err;
    EXPECT_EQ(images_named(second_part.out).size(), 12u);
    EXPECT_EQ(resume_and_wait(first_part), 0);

    const pid_t full_run = start_and_stop_at({"-f", "-j", "1", g.path}, g.file("index.html.tmp"));
    ASSERT_GT(full_run, 0);
    for (const char *part : {"1/2", "2/2"}) {
        const run_result refused = run_vistrel({"-p", part, g.path});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(refused.err, busy);
    }
    EXPECT_EQ(resume_and_wait(full_run), 0);
}

}  // namespace

namespace {

// A temporary file in a cache directory may be another part's work in
// progress: a part leaves it, the full run that holds the lock alone removes
// it as a killed run's leftover.
TEST(parts, leave_temporary_files_to_the_full_run)
{
    temp_dir g;
    const std::string a = g.file("a");
    make_dir(a);
    write_jpeg(a + "/x.jpg", {.width = 40, .height = 30});
    make_dir(a + "/.scaled");
    // As this version names them, and as earlier ones did.
    const std::string in_progress[] = {a + "/.scaled/y.jpg.0123abcd.tmp", a + "/.scaled/y.jpg.tmp"};
    for (const std::string &path : in_progress) write_file(path, "being written");
    for (const char *part : {"1/2", "2/2"}) {
        const run_result r = run_vistrel({"-p", part, g.path});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string &path : in_progress) EXPECT_TRUE(file_exists(path)) << part;
    }
    const run_result r = run_vistrel({g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string &path : in_progress) EXPECT_FALSE(file_exists(path)) << path;
}

// The same part run twice at once (a requeued array task, a second
// submission): each run writes its own temporary files, so both succeed
// and every derived file is whole, whichever run placed it last.
TEST(parts, the_same_part_twice_at_once_leaves_whole_files)
{
    temp_dir whole, twice;
    for (const std::string &root : {whole.path, twice.path}) {
        make_dir(root + "/a");
        for (int i = 0; i < 12; ++i)
            write_jpeg(root + "/a/p" + std::to_string(i) + ".jpg",
                       {.width = 900, .height = 600, .seed = static_cast<uint32_t>(i)});
    }
    const run_result one = run_vistrel({"-p", "1/1", whole.path});
    ASSERT_EQ(one.status, 0) << one.err;
    const auto derived = [](const std::string &root) {
        std::map<std::string, std::string> files = snapshot(root);
        std::erase_if(files, [](const auto &file) { return !file.first.starts_with("a/."); });
        return files;
    };
    const std::map<std::string, std::string> expected = derived(whole.path);
    ASSERT_EQ(expected.size(), 24u);

    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        run_result runs[2];
        std::thread second([&] { runs[1] = run_vistrel({"-f", "-p", "1/1", twice.path}); });
        runs[0] = run_vistrel({"-f", "-p", "1/1", twice.path});
        second.join();
        for (const run_result &r : runs) EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(derived(twice.path), expected);
    }
}

}  // namespace

namespace {

// A small gallery of two albums, a HEIF photograph and a video among the
// JPEG ones (for -i and -V), a description and an orphan.
void fill_small_gallery(const std::string &root)
{
    static const std::vector<uint8_t> heic = make_heif({.width = 128, .height = 96, .seed = 7});
    for (const char *album : {"a", "b"}) make_dir(root + "/" + album);
    for (int i = 0; i < 3; ++i)
        write_jpeg(root + (i < 2 ? "/a/p" : "/b/p") + std::to_string(i) + ".jpg",
                   {.width = 160 + 40 * i,
                    .height = 120,
                    .seed = static_cast<uint32_t>(i),
                    .exif = exif_recipe{.model = "Camera", .taken = "2024:05:06 07:08:09"}});
    write_file(root + "/a/h.heic", std::string(heic.begin(), heic.end()));
    static const std::string clip = video_bytes({.width = 96, .height = 64, .seconds = 1});
    write_file(root + "/a/v.mp4", clip);
    write_file(root + "/b/.description", ". Harbour\np2.jpg The boats\n");
    make_dir(root + "/b/.scaled");
    write_file(root + "/b/.scaled/gone.jpg", "orphan");
    // An album inside an album: one only -R makes.
    make_dir(root + "/b/deeper");
    write_jpeg(root + "/b/deeper/p3.jpg", {.width = 140, .height = 120, .seed = 3});
}

// The "N made" of a quiet run's summary line.
int made_in(const run_result &quiet)
{
    std::smatch found;
    EXPECT_TRUE(std::regex_search(quiet.out, found, std::regex(": ([0-9]+) made, "))) << quiet.out;
    return found.empty() ? -1 : std::stoi(found[1]);
}

// The text with the gallery's path shown as "G".
std::string gallery_as_g(const std::string &text, const std::string &gallery)
{
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        const size_t found = text.find(gallery, at);
        shown += text.substr(at, found - at);
        if (found == std::string::npos) break;
        shown += "G";
        at = found + gallery.size();
    }
    return shown;
}

struct split_run {
    std::map<std::string, std::string> gallery;
    int made = -1;  // by the pages run
    run_result pages;
};

// Two parts given one set of words, then the pages run given another.
split_run parts_then_pages(const std::vector<std::string> &parts_words,
                           const std::vector<std::string> &pages_words)
{
    temp_dir g;
    fill_small_gallery(g.path);
    for (const char *part : {"1/2", "2/2"}) {
        std::vector<std::string> args = parts_words;
        args.insert(args.end(), {"-p", part, g.path});
        const run_result r = run_vistrel(args);
        EXPECT_EQ(r.status, 0) << r.err;
    }
    std::vector<std::string> args = pages_words;
    args.insert(args.end(), {"-q", g.path});
    run_result pages = run_vistrel(args);
    pages.err = gallery_as_g(pages.err, g.path);
    return {snapshot(g.path), pages.status == 0 ? made_in(pages) : -1, pages};
}

std::map<std::string, std::string> one_run(const std::vector<std::string> &words)
{
    temp_dir g;
    fill_small_gallery(g.path);
    std::vector<std::string> args = words;
    args.push_back(g.path);
    const run_result r = run_vistrel(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return snapshot(g.path);
}

// The option table says which options part runs must be given as the
// pages run is. Given to one side only, such an option has the pages run
// refused, naming it, and the gallery left as the parts made it; any other
// option may be given to either side alone.
TEST(parts, options_that_change_derived_images_must_match_the_pages_run)
{
    // An argument for every option that takes one; -p is the part itself,
    // and -v ends the run.
    const std::map<char, std::string> arguments = {
        {'c', "2"},    {'r', "1"},     {'h', "50"}, {'H', "200"},
        {'s', "size"}, {'d', "Trips"}, {'j', "2"},
    };
    const std::map<std::string, std::string> plain = one_run({});
    for (const option_row &row : options) {
        if (row.letter == 'p' || row.letter == 'v') continue;
        std::vector<std::string> words = {std::string("-") + row.letter};
        if (row.argument) {
            const auto argument = arguments.find(row.letter);
            if (argument == arguments.end()) {
                ADD_FAILURE() << "-" << row.letter << " needs an argument in this test";
                continue;
            }
            words.push_back(argument->second);
        }
        settings_record set;
        ASSERT_TRUE(row.set(set, row.argument ? words[1].c_str() : nullptr));

        const std::map<std::string, std::string> whole = one_run(words);
        const split_run pages_only = parts_then_pages({}, words);
        const split_run parts_only = parts_then_pages(words, {});
        if (row.derives) {
            // -m names the options of it that shape the derived images.
            const std::string named = row.letter == 'm' ? "-2" : words[0];
            for (const split_run *run : {&pages_only, &parts_only}) {
                const char *side = run == &pages_only ? "the pages run" : "the parts";
                EXPECT_EQ(run->pages.status, 1) << "-" << row.letter << " given to " << side;
                EXPECT_TRUE(run->pages.err.starts_with("vistrel: 'G' was derived with "))
                    << run->pages.err;
                EXPECT_NE(run->pages.err.find(named), std::string::npos) << run->pages.err;
                for (const auto &[name, bytes] : run->gallery)
                    EXPECT_FALSE(name.ends_with(".html")) << name << " after " << side;
            }
        } else {
            EXPECT_EQ(pages_only.pages.status, 0) << pages_only.pages.err;
            EXPECT_EQ(parts_only.pages.status, 0) << parts_only.pages.err;
            EXPECT_TRUE(pages_only.gallery == whole)
                << "-" << row.letter << " given to the pages run";
            EXPECT_TRUE(parts_only.gallery == plain) << "-" << row.letter << " given to the parts";
            // Only a forced pages run derives again what the parts derived.
            if (!set.force) {
                EXPECT_EQ(pages_only.made, 0) << "-" << row.letter;
            }
            EXPECT_EQ(parts_only.made, 0) << "-" << row.letter;
        }
    }
}

// The record of the options that shape the derived images, run after run:
// what each run finds, whether it is refused and what it says, and what the
// record holds after it.
TEST(parts, the_record_of_shaping_options_refuses_mismatched_runs)
{
    const std::string record = ".derive-options";
    const std::string advice =
        ": give it the options it was derived with, or -f to derive it all again\n";
    struct step {
        std::vector<std::string> args;
        int status;
        std::string err;     // when refused
        std::string record;  // what it holds after the step; "" for none
    };
    const struct {
        const char *what;
        std::vector<step> steps;
    } cases[] = {
        {"parts, then pages with other sizes",
         {{{"-p", "1/2", "-H", "360"}, 0, "", "-h 96 -H 360\nfrom parts\n"},
          {{"-p", "2/2", "-H", "360", "-l"},
           1,
           "vistrel: 'G' was derived with no -l; this run has -l" + advice,
           "-h 96 -H 360\nfrom parts\n"},
          {{"-p", "2/2", "-H", "360"}, 0, "", "-h 96 -H 360\nfrom parts\n"},
          {{},
           1,
           "vistrel: 'G' was derived with -H 360; this run has -H 480" + advice,
           "-h 96 -H 360\nfrom parts\n"},
          {{"-m", "-h", "50", "-H", "360"},
           1,
           "vistrel: 'G' was derived with -h 96, no -2, no -b, no -i, no -V, no -R; this run has "
           "-h 50, -2, -b, -i, -V, -R" +
               advice,
           "-h 96 -H 360\nfrom parts\n"},
          {{"-H", "360", "-c", "2", "-a"}, 0, "", "-h 96 -H 360\nfrom a whole run\n"}}},
        {"-f resets the record, for parts and pages alike",
         {{{"-p", "1/2", "-2"}, 0, "", "-h 96 -H 480 -2\nfrom parts\n"},
          {{"-p", "2/2", "-f", "-b"}, 0, "", "-h 96 -H 480 -b\nfrom parts\n"},
          {{"-f", "-l"}, 0, "", "-h 96 -H 480 -l\nfrom a whole run\n"},
          {{"-p", "1/2"},
           1,
           "vistrel: 'G' was derived with -l; this run has no -l" + advice,
           "-h 96 -H 480 -l\nfrom a whole run\n"}}},
        {"whole runs change options as they always could",
         {{{}, 0, "", "-h 96 -H 480\nfrom a whole run\n"},
          {{"-H", "300"}, 0, "", "-h 96 -H 300\nfrom a whole run\n"},
          {{"-p", "1/1", "-H", "300", "-l"},
           1,
           "vistrel: 'G' was derived with no -l; this run has -l" + advice,
           "-h 96 -H 300\nfrom a whole run\n"},
          // Parts that match a whole run's record leave it as it is.
          {{"-p", "1/1", "-H", "300"}, 0, "", "-h 96 -H 300\nfrom a whole run\n"}}},
    };
    for (const auto &c : cases) {
        temp_dir g;
        fill_small_gallery(g.path);
        for (const step &s : c.steps) {
            std::vector<std::string> args = s.args;
            args.push_back(g.path);
            run_result r = run_vistrel(args);
            r.err = gallery_as_g(r.err, g.path);
            std::string shown = c.what;
            for (const std::string &arg : s.args) shown += " [" + arg + "]";
            EXPECT_EQ(r.status, s.status) << shown << "\n" << r.err;
            if (s.status != 0) {
                EXPECT_EQ(r.err, s.err) << shown;
                EXPECT_EQ(r.out, "") << shown;
            }
            EXPECT_EQ(file_exists(g.file(record)) ? read_file(g.file(record)) : "", s.record)
                << shown;
        }
        // Never a page's, never an orphan, and no temporary file left.
        ASSERT_EQ(run_vistrel({"-f", g.path}).status, 0);
        EXPECT_EQ(read_file(g.file("index.html")).find(record), std::string::npos);
        EXPECT_TRUE(file_exists(g.file(record)));
        for (const std::string &name : list_names(g.path))
            EXPECT_TRUE(name == record || !name.starts_with(record)) << name;
    }
}

// A gallery derived before the record was kept gets one from its next run,
// part or whole, with whatever options that run has; a record that is no
// file refuses the run; the temporary file of a killed run goes with the
// next whole run.
TEST(parts, a_gallery_without_a_record_gets_one)
{
    const std::string record = ".derive-options";
    for (const bool part : {true, false}) {
        temp_dir g;
        fill_small_gallery(g.path);
        ASSERT_EQ(run_vistrel({"-H", "200", g.path}).status, 0);
        ASSERT_EQ(unlink(g.file(record).c_str()), 0);
        write_file(g.file(record + ".0123456789abcdef.tmp"), "-h 1\n");
        std::vector<std::string> args = {"-H", "200", g.path};
        if (part) args.insert(args.begin(), {"-p", "1/1"});
        const run_result r = run_vistrel(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(g.file(record)),
                  std::string("-h 96 -H 200\n") + (part ? "from parts\n" : "from a whole run\n"));
        EXPECT_EQ(file_exists(g.file(record + ".0123456789abcdef.tmp")), part);
    }
    temp_dir g;
    fill_small_gallery(g.path);
    make_dir(g.file(record));
    for (const char *part : {"-p1/1", "-q"}) {
        const run_result r = run_vistrel({part, g.path});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err,
                  "vistrel: can't read '" + g.path + "': " + record + " is not a regular file\n");
    }
}

}  // namespace
