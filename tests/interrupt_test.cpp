// A run killed at any moment: every file under its final name is complete,
// and the next run, without -f, repairs the rest to exactly what a run that
// was never interrupted writes.
//
// Each round kills the run at a point of its own, chosen by what the run
// has written (so many derived files under their final names, some of them
// while a temporary file is there), never by the clock: the rounds spread
// over the run however fast the machine is. Every check holds at any moment,
// including before the first file and after the last one.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VISTREL_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VISTREL_TEST_SANITIZED 1
#endif
#endif

namespace {

namespace fs = std::filesystem;

#ifdef VISTREL_TEST_SANITIZED
// Runs under a sanitizer take many times as long: half the rounds, those
// marked for it, still kill every kind of run at every stage.
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

const std::regex footer_pattern("<div class=\"generated\">Web gallery generated [^\n]*\n with ");

std::string strip_footer(const std::string &page)
{
    return std::regex_replace(page, footer_pattern, "<div class=\"generated\">FOOTER with ");
}

// Two albums of 40 images in all, each a little larger than its scaled
// image, with more than one index page each. Where the kills land does not
// depend on how long a run takes, so the photographs need be no larger: the
// runs stay short under the sanitizers too.
const std::vector<std::string> albums = {"north", "south"};
constexpr int images_per_album = 20;
const std::vector<std::string> run_options = {"-r", "2", "-c", "3"};

std::string image_name(int i) { return "img" + std::to_string(100 + i) + ".jpg"; }

void build_gallery(const std::string &gallery)
{
    write_file(gallery + "/vistrel.css", "body { color: black; }\n");
    for (size_t a = 0; a < albums.size(); ++a) {
        const std::string album = gallery + "/" + albums[a];
        make_dir(album);
        for (int i = 0; i < images_per_album; ++i) {
            const int step = static_cast<int>(a) * images_per_album + i;
            jpeg_recipe recipe{.width = 700 + step * 10,
                               .height = 520 + step * 8,
                               .seed = static_cast<uint32_t>(step + 1)};
            if (i % 7 == 3)
                recipe = {.width = 560, .height = 800, .seed = static_cast<uint32_t>(step + 1)};
            write_jpeg(album + "/" + image_name(i), recipe);
        }
    }
    write_file(gallery + "/north/.description", ". The north\nimg103.jpg A <b>tall</b> one\n");
}

bool is_input(const std::string &relative)
{
    return relative.ends_with(".css") || relative.ends_with(".description") ||
           (relative.ends_with(".jpg") && relative.find("/.") == std::string::npos);
}

// Every file the runs write, by path relative to the gallery, temporary
// files apart.
std::set<std::string> output_files(const std::string &gallery)
{
    std::set<std::string> files;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(gallery)) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = fs::relative(entry.path(), gallery).string();
        // The lock file and the record of the options are the runs' own, and
        // no output.
        if (is_input(relative) || relative.ends_with(".tmp") || relative == ".lock" ||
            relative == ".derive-options")
            continue;
        files.insert(relative);
    }
    return files;
}

std::vector<std::string> temporary_files(const std::string &gallery)
{
    std::vector<std::string> files;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(gallery))
        if (entry.is_regular_file() && entry.path().extension() == ".tmp")
            files.push_back(fs::relative(entry.path(), gallery).string());
    return files;
}

using snapshot = std::map<std::string, std::string>;  // relative path -> bytes, footers stripped

snapshot take_snapshot(const std::string &gallery)
{
    snapshot files;
    for (const std::string &relative : output_files(gallery)) {
        const std::string bytes = read_file(gallery + "/" + relative);
        files[relative] = relative.ends_with(".html") ? strip_footer(bytes) : bytes;
    }
    return files;
}

bool is_derived(const std::string &relative)
{
    return relative.find("/.scaled/") != std::string::npos ||
           relative.find("/.thumbs/") != std::string::npos;
}

// "<album>/.thumbs/<name>" -> "<album>/.scaled/<name>"
std::string scaled_of(const std::string &thumb)
{
    const size_t at = thumb.find("/.thumbs/");
    return thumb.substr(0, at) + "/.scaled/" + thumb.substr(at + 9);
}

// The checks that must hold at any moment of a run: every file under its
// final name is whole.
void expect_complete_outputs(const std::string &gallery, int expected_scaled_height,
                             int expected_thumb_height)
{
    for (const std::string &relative : output_files(gallery)) {
        SCOPED_TRACE(relative);
        const std::string path = gallery + "/" + relative;
        if (is_derived(relative)) {
            decoded_jpeg decoded;
            ASSERT_NO_THROW(decoded = decode_jpeg(path));
            EXPECT_EQ(decoded.warnings, 0) << "corrupt or truncated JPEG data";
            const bool scaled = relative.find("/.scaled/") != std::string::npos;
            EXPECT_EQ(decoded.height, scaled ? expected_scaled_height : expected_thumb_height);
        } else {
            ASSERT_TRUE(relative.ends_with(".html")) << "unexpected output";
            const std::string page = read_file(path);
            EXPECT_TRUE(page.starts_with("<!DOCTYPE html>\n<html lang=\"en\">\n")) << page;
            // Image pages end right after the closing tag, index pages with a newline.
            EXPECT_TRUE(page.ends_with("</body></html>") || page.ends_with("</body>\n</html>\n"))
                << "cut short: ..." << page.substr(page.size() > 200 ? page.size() - 200 : 0);
        }
    }
}

// A temporary file left by a killed run is only ever "<output>.tmp", or
// "<output>.<8 hex digits>.tmp" for a derived image, for an output the runs
// write: nothing a later run could take for an image.
void expect_only_known_temporaries(const std::string &gallery, const snapshot &reference)
{
    static const std::regex run_tag(R"(\.[0-9a-f]{8}$)");
    for (const std::string &relative : temporary_files(gallery)) {
        std::string final_name = relative.substr(0, relative.size() - 4);
        if (final_name.find("/.") != std::string::npos)
            final_name = std::regex_replace(final_name, run_tag, "");
        EXPECT_TRUE(reference.contains(final_name)) << "stray temporary file " << relative;
    }
}

// Where a round kills its run: once `derived` scaled images and thumbnails
// under their final names are the run's own (new, or replaced under -f),
// and with `mid_write` at a moment a temporary file is there too. Each takes
// a while to make, so the kill lands near its mark; past the last one, in
// the pages, it lands at the first look after the mark, or the run has
// ended first and is checked as one killed after its end.
struct round_plan {
    size_t derived;
    bool mid_write;
    bool force;  // -f over a complete gallery, else a gallery without outputs
    int jobs;
    bool sanitized;  // one of the rounds run under a sanitizer
};

// Never reached: the run goes to its end.
constexpr size_t the_end = SIZE_MAX;

using inode_map = std::map<std::string, ino_t>;  // relative path -> inode

// What a run has written so far, seen from outside while it runs, from the
// listings alone (names and inode numbers, no stat): cheap enough to look
// every millisecond without slowing the run.
struct progress {
    inode_map derived;     // scaled images and thumbnails under their final names
    bool writing = false;  // a temporary file is there
};

void list_into(const std::string &gallery, const std::string &dir, progress &seen)
{
    const std::unique_ptr<DIR, int (*)(DIR *)> listing(opendir((gallery + "/" + dir).c_str()),
                                                       closedir);
    if (!listing) return;  // not made yet
    const bool derived = dir.ends_with("/.scaled") || dir.ends_with("/.thumbs");
    while (const dirent *entry = readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name.ends_with(".tmp"))
            seen.writing = true;
        else if (derived && name != "." && name != "..")
            seen.derived[dir + "/" + name] = entry->d_ino;
    }
}

progress look(const std::string &gallery)
{
    progress seen;
    list_into(gallery, ".", seen);
    for (const std::string &album : albums)
        for (const std::string &dir : {album, album + "/.scaled", album + "/.thumbs"})
            list_into(gallery, dir, seen);
    return seen;
}

// The derived files that are new, or another file under the same name,
// since `before`.
size_t derived_since(const inode_map &before, const inode_map &now)
{
    size_t written = 0;
    for (const auto &[relative, inode] : now) {
        const auto found = before.find(relative);
        if (found == before.end() || found->second != inode) ++written;
    }
    return written;
}

struct kill_outcome {
    bool killed = false;     // before the run ended
    bool mid_write = false;  // while a temporary file was there
};

// Starts the run and kills it where the plan says, polling what it has
// written; then reaps it.
kill_outcome run_and_kill(const std::vector<std::string> &args, const std::string &gallery,
                          const round_plan &plan)
{
    const inode_map before = look(gallery).derived;
    const pid_t pid = start_vistrel(args);
    kill_outcome outcome;
    int wstatus = 0;
    for (;;) {
        const pid_t ended = waitpid(pid, &wstatus, WNOHANG);
        if (ended == pid) return outcome;
        const progress now = look(gallery);
        if (derived_since(before, now.derived) >= plan.derived &&
            (!plan.mid_write || now.writing)) {
            kill(pid, SIGKILL);
            outcome.mid_write = now.writing;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    outcome.killed = WIFSIGNALED(wstatus);
    return outcome;
}

void remove_outputs(const std::string &gallery)
{
    for (const std::string &album : albums) {
        for (const fs::directory_entry &entry : fs::directory_iterator(gallery + "/" + album)) {
            const std::string name = entry.path().filename().string();
            if (name == ".scaled" || name == ".thumbs")
                fs::remove_all(entry.path());
            else if (name.ends_with(".html") || name.ends_with(".tmp"))
                fs::remove(entry.path());
        }
    }
    fs::remove(gallery + "/index.html");
    fs::remove(gallery + "/index.html.tmp");
}

std::vector<std::string> with_gallery(std::vector<std::string> options, const std::string &gallery)
{
    options.push_back(gallery);
    return options;
}

TEST(interrupt, a_killed_run_leaves_only_complete_files_and_the_next_run_repairs_the_rest)
{
    temp_dir root;
    const std::string gallery = root.path;
    build_gallery(gallery);

    // The reference: an uninterrupted run.
    const run_result clean = run_vistrel(with_gallery(run_options, gallery));
    ASSERT_EQ(clean.status, 0) << clean.err;
    const snapshot reference = take_snapshot(gallery);
    ASSERT_EQ(reference.size(), 2u * 3u * images_per_album + 4u + 4u + 1u);

    // A thumbnail made while its scaled image is up to date comes from a
    // decode at the thumbnail's own reduction: other bytes, as documented.
    for (const std::string &album : albums) fs::remove_all(gallery + "/" + album + "/.thumbs");
    const run_result thumbs_only = run_vistrel(with_gallery(run_options, gallery));
    ASSERT_EQ(thumbs_only.status, 0) << thumbs_only.err;
    snapshot thumbs_from_own_decode;
    for (const auto &[relative, bytes] : take_snapshot(gallery))
        if (relative.find("/.thumbs/") != std::string::npos)
            thumbs_from_own_decode[relative] = bytes;

    // From the first moment to past the end: in the derived files of each
    // album, at the pages of the first (all its derived files made) and of
    // the second and the gallery (all made).
    const size_t per_album = 2u * images_per_album;
    const std::vector<round_plan> rounds = {
        {0, false, false, 1, false},
        {1, true, true, 1, false},
        {per_album / 4, false, false, 2, true},
        {per_album / 2, true, true, 1, true},
        {per_album, false, true, 2, true},
        {per_album + 4, true, false, 1, false},
        {per_album * 3 / 2, false, true, 1, false},
        {per_album * 2 - 4, true, false, 2, true},
        {per_album * 2, false, false, 1, false},
        {the_end, false, true, 2, true},
    };
    int ran = 0, interrupted = 0, mid_write = 0;
    for (const round_plan &plan : rounds) {
        if (sanitized && !plan.sanitized) continue;
        SCOPED_TRACE("kill after " +
                     (plan.derived == the_end ? "the end" : std::to_string(plan.derived)) +
                     " derived files" + (plan.mid_write ? " while writing one, " : ", ") +
                     (plan.force ? "-f over a complete gallery" : "from no outputs") + ", -j " +
                     std::to_string(plan.jobs));
        if (!plan.force) remove_outputs(gallery);

        std::vector<std::string> options = run_options;
        options.insert(options.end(), {"-j", std::to_string(plan.jobs)});
        if (plan.force) options.push_back("-f");
        const kill_outcome outcome = run_and_kill(with_gallery(options, gallery), gallery, plan);
        ++ran;
        interrupted += outcome.killed;
        mid_write += outcome.killed && outcome.mid_write;

        // Whatever is under a final name now is whole, and is exactly what
        // an uninterrupted run writes there.
        expect_complete_outputs(gallery, 480, 96);
        const snapshot killed = take_snapshot(gallery);
        for (const auto &[relative, bytes] : killed) {
            SCOPED_TRACE(relative);
            ASSERT_TRUE(reference.contains(relative)) << "unexpected output";
            EXPECT_TRUE(bytes == reference.at(relative) ||
                        (relative.find("/.thumbs/") != std::string::npos &&
                         bytes == thumbs_from_own_decode.at(relative)))
                << (relative.ends_with(".html") ? bytes : "");
        }

        const run_result repair = run_vistrel(with_gallery(run_options, gallery));
        ASSERT_EQ(repair.status, 0) << repair.err;
        expect_only_known_temporaries(gallery, reference);

        // Derived files the kill left are up to date and stay as they are;
        // the missing ones are made as usual, a thumbnail whose scaled image
        // survived from its own decode. Pages are all written anew.
        const snapshot repaired = take_snapshot(gallery);
        EXPECT_EQ(repaired.size(), reference.size());
        for (const auto &[relative, bytes] : reference) {
            SCOPED_TRACE(relative);
            ASSERT_TRUE(repaired.contains(relative)) << "not repaired";
            const std::string &got = repaired.at(relative);
            const bool thumb = relative.find("/.thumbs/") != std::string::npos;
            if (is_derived(relative) && killed.contains(relative)) {
                EXPECT_TRUE(got == killed.at(relative)) << "a complete derived file was remade";
            } else if (thumb && killed.contains(scaled_of(relative))) {
                EXPECT_TRUE(got == thumbs_from_own_decode.at(relative));
            } else {
                EXPECT_TRUE(got == bytes) << (relative.ends_with(".html") ? got : "");
            }
        }
        if (HasFailure()) break;
    }
    std::printf("%d of %d runs were killed before they ended, %d while writing a file\n",
                interrupted, ran, mid_write);
}

}  // namespace
