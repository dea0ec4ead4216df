// The cache directories of an album and the freshness test of derived files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "album/cache_dirs.h"
#include "base/settings.h"
#include "image/freshness.h"
#include "support/temp_dir.h"

namespace {

// Appended piece by piece: GCC 12 misreads a one-character literal joined
// in front of a string as an overlapping copy.
std::string quoted(const std::string &path)
{
    std::string text = "'";
    text += path;
    text += '\'';
    return text;
}

// The album's cache directories made and held, as the album driver does;
// the failure's text, or empty.
std::string ensure_cache_dirs(const std::string &album_path, failure_kind *kind = nullptr)
{
    album_dirs dirs;
    dirs.album = held_dir(album_path);
    const outcome opened = open_cache_dirs(dirs, settings_record{});
    if (!opened.ok() && kind) *kind = opened.error().kind;
    return opened.ok() ? "" : opened.error().text;
}

// The freshness of a derived file beside its source, as the pipeline asks.
result<bool> fresh(const temp_dir &album, const std::string &name, const struct stat &source)
{
    return is_fresh(held_dir(album.path), name, source);
}

struct stat status_of(const std::string &path)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0) throw std::runtime_error("cannot stat " + path);
    return status;
}

bool is_dir(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

class cache : public testing::Test {
protected:
    temp_dir album;
};

}  // namespace

TEST_F(cache, creates_both_directories_under_the_umask)
{
    const mode_t old_mask = umask(002);
    EXPECT_EQ(ensure_cache_dirs(album.path), "");
    umask(old_mask);
    for (const char *name : {".scaled", ".thumbs"}) {
        SCOPED_TRACE(name);
        const struct stat status = status_of(album.file(name));
        EXPECT_TRUE(S_ISDIR(status.st_mode));
        EXPECT_EQ(status.st_mode & 07777, 0775u);
    }

    // A second run finds them and leaves their content alone.
    write_file(album.file(".scaled/a.jpg"), "x");
    EXPECT_EQ(ensure_cache_dirs(album.path), "");
    EXPECT_EQ(read_file(album.file(".scaled/a.jpg")), "x");
}

// The album's own fault: the run leaves the album out and goes on.
TEST_F(cache, refusals_fail_the_album_with_one_message)
{
    // Each case prepares the album, then names the exact message.
    struct refusal {
        const char *what;
        void (*prepare)(const temp_dir &album);
        std::string (*message)(const temp_dir &album);
        bool scaled_after, thumbs_after;  // what the failed run leaves
    };
    const refusal refusals[] = {
        {".scaled is a file: quoted, and .thumbs is not looked at",
         [](const temp_dir &a) { write_file(a.file(".scaled"), ""); },
         [](const temp_dir &a) {
             return quoted(a.file(".scaled")) + " exists, but is not a directory\n";
         },
         false, false},
        {".thumbs is a file: unquoted, after .scaled was made",
         [](const temp_dir &a) { write_file(a.file(".thumbs"), ""); },
         [](const temp_dir &a) { return a.file(".thumbs") + " exists, but is not a directory\n"; },
         true, false},
        // Whoever can write into the album must not send the run elsewhere.
        {"link to a directory",
         [](const temp_dir &a) {
             make_dir(a.file("elsewhere"));
             ASSERT_EQ(symlink(a.file("elsewhere").c_str(), a.file(".scaled").c_str()), 0);
         },
         [](const temp_dir &a) {
             return quoted(a.file(".scaled")) + " exists, but is not a directory\n";
         },
         false, false},
        {"dangling link",
         [](const temp_dir &a) {
             ASSERT_EQ(symlink(a.file("nowhere").c_str(), a.file(".scaled").c_str()), 0);
         },
         [](const temp_dir &a) {
             return quoted(a.file(".scaled")) + " exists, but is not a directory\n";
         },
         false, false},
        {"link to a file is no directory either",
         [](const temp_dir &a) {
             write_file(a.file("file"), "");
             ASSERT_EQ(symlink(a.file("file").c_str(), a.file(".thumbs").c_str()), 0);
         },
         [](const temp_dir &a) { return a.file(".thumbs") + " exists, but is not a directory\n"; },
         true, false},
    };
    for (const refusal &r : refusals) {
        SCOPED_TRACE(r.what);
        temp_dir a;
        r.prepare(a);
        failure_kind kind = failure_kind::ends_run;
        EXPECT_EQ(ensure_cache_dirs(a.path, &kind), r.message(a));
        EXPECT_EQ(kind, failure_kind::bad_album);
        EXPECT_EQ(is_dir(a.file(".scaled")) && !is_symlink(a.file(".scaled")), r.scaled_after);
        EXPECT_EQ(is_dir(a.file(".thumbs")) && !is_symlink(a.file(".thumbs")), r.thumbs_after);
    }
}

// The album was held open, then removed: nothing can be made in it, and
// nothing is made elsewhere.
TEST_F(cache, album_gone_after_it_was_opened)
{
    make_dir(album.file("gone"));
    album_dirs dirs;
    dirs.album = held_dir(album.file("gone"));
    ASSERT_EQ(rmdir(album.file("gone").c_str()), 0);
    const outcome opened = open_cache_dirs(dirs, settings_record{});
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().text,
              "can't mkdir(" + album.file("gone/.scaled") + "): No such file or directory\n");
    EXPECT_FALSE(file_exists(album.file("gone")));
}

TEST_F(cache, freshness_compares_whole_seconds)
{
    struct freshness_case {
        const char *what;
        int64_t source, derived;
        bool fresh;
    };
    // 4102444800 is in 2100: the times must not pass through 32 bits.
    const freshness_case cases[] = {
        {"same second", 1600000000, 1600000000, true},
        {"one second earlier", 1600000000, 1599999999, false},
        {"later", 1600000000, 1600000500, true},
        {"beyond 2038, later", 2000000000, 4102444800, true},
        {"beyond 2038, source newer", 4102444800, 4102444799, false},
    };
    write_file(album.file("a.jpg"), "source");
    write_file(album.file("derived.jpg"), "");  // content plays no part
    for (const freshness_case &c : cases) {
        SCOPED_TRACE(c.what);
        set_mtime(album.file("a.jpg"), c.source);
        set_mtime(album.file("derived.jpg"), c.derived);
        EXPECT_EQ(*fresh(album, "derived.jpg", status_of(album.file("a.jpg"))), c.fresh);
    }
}

TEST_F(cache, fractions_of_a_second_play_no_part)
{
    write_file(album.file("a.jpg"), "source");
    write_file(album.file("derived.jpg"), "derived");
    // The source changed late in the second in which the derived file was
    // written early: unchanged as far as the cache can tell.
    const timespec source_times[2] = {{1600000000, 900000000}, {1600000000, 900000000}};
    const timespec derived_times[2] = {{1600000000, 100000000}, {1600000000, 100000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, album.file("a.jpg").c_str(), source_times, 0), 0);
    ASSERT_EQ(utimensat(AT_FDCWD, album.file("derived.jpg").c_str(), derived_times, 0), 0);
    EXPECT_TRUE(*fresh(album, "derived.jpg", status_of(album.file("a.jpg"))));
}

TEST_F(cache, missing_and_linked_derived_files)
{
    write_file(album.file("a.jpg"), "source");
    set_mtime(album.file("a.jpg"), 1600000000);
    const struct stat source = status_of(album.file("a.jpg"));

    EXPECT_FALSE(*fresh(album, "none.jpg", source));

    // A link is never fresh, whatever its target's time: the next write
    // replaces the link itself.
    write_file(album.file("target.jpg"), "");
    set_mtime(album.file("target.jpg"), 1600000001);
    ASSERT_EQ(symlink(album.file("target.jpg").c_str(), album.file("link.jpg").c_str()), 0);
    EXPECT_FALSE(*fresh(album, "link.jpg", source));
    ASSERT_EQ(symlink(album.file("gone.jpg").c_str(), album.file("dangling.jpg").c_str()), 0);
    EXPECT_FALSE(*fresh(album, "dangling.jpg", source));
}

TEST_F(cache, unreadable_derived_status_fails_the_run)
{
    write_file(album.file("a.jpg"), "source");
    const struct stat source = status_of(album.file("a.jpg"));
    const result<bool> status = fresh(album, "a.jpg/b.jpg", source);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().text,
              "can't stat(" + album.file("a.jpg/b.jpg") + "): Not a directory\n");
}
