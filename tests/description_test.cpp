// The album description file: titles and caption lines, read the way the
// line reader takes them (1023-byte pieces, first blank or tab separates),
// keeping only the captions of the album's images.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "album/description.h"
#include "support/capture_output.h"
#include "support/temp_dir.h"

namespace {

struct description_case {
    const char *what;
    std::string content;
    std::optional<std::string> title;
    std::vector<description_entry> entries;
};

// Fills up a first 1023-byte piece that starts with "a.jpg ".
const std::string long_caption(1023 - 6, 'x');

const description_case cases[] = {
    {"title after a blank", ". Summer holidays\n", "Summer holidays", {}},
    {"title after a tab", ".\tSummer holidays\n", "Summer holidays", {}},
    {"full stop alone has no separator", ".\n", std::nullopt, {}},
    {"full stop and a blank: empty title", ". \n", "", {}},
    {"later title wins", ". First\n. Second\n", "Second", {}},
    {"blanks after the word are skipped",
     "a.jpg   Sunset at sea\n",
     std::nullopt,
     {{"a.jpg", "Sunset at sea"}}},
    {"word alone is ignored", "a.jpg\n", std::nullopt, {}},
    {"word and one blank: empty caption", "a.jpg \n", std::nullopt, {{"a.jpg", ""}}},
    {"every leading isspace skipped, trailing blanks kept",
     "a.jpg \t\v\f\r x y  \n",
     std::nullopt,
     {{"a.jpg", "x y  "}}},
    {"only the first separator splits",
     "a.jpg\tone two\tthree\n",
     std::nullopt,
     {{"a.jpg", "one two\tthree"}}},
    {"carriage returns stay", "a.jpg Sunset\r\n. Trip\r\n", "Trip\r", {{"a.jpg", "Sunset\r"}}},
    {"carriage return alone is leading white space", ". \r\n", "", {}},
    {"last line without newline",
     "a.jpg first\nb.jpg last",
     std::nullopt,
     {{"a.jpg", "first"}, {"b.jpg", "last"}}},
    {"leading blank: empty word", " lonely words\n", std::nullopt, {{"", "lonely words"}}},
    {"only a full stop alone is a title",
     ".. dots\n.x y\n",
     std::nullopt,
     {{"..", "dots"}, {".x", "y"}}},
    {"empty lines ignored, file order kept, first line per name",
     "b.jpg B\n\n\na.jpg A\nb.jpg again\n",
     std::nullopt,
     {{"b.jpg", "B"}, {"a.jpg", "A"}}},
    {"long line: second piece is a line of its own",
     "a.jpg " + long_caption + "b.jpg tail\n. T\n",
     "T",
     {{"a.jpg", long_caption}, {"b.jpg", "tail"}}},
    {"long line: second piece without separator ignored",
     "a.jpg " + long_caption + "rest-of-it\nc.jpg c\n",
     std::nullopt,
     {{"a.jpg", long_caption}, {"c.jpg", "c"}}},
    {"line of exactly 1023 bytes: its newline is an empty piece",
     "a.jpg " + long_caption + "\nc.jpg c\n",
     std::nullopt,
     {{"a.jpg", long_caption}, {"c.jpg", "c"}}},
    {"empty file", "", std::nullopt, {}},
    {"names not in the album are dropped",
     "z.jpg Z\na.jpg A\nA.JPG upper\na.jpg. dot\n. T\n",
     "T",
     {{"a.jpg", "A"}}},
};

// The album's images for the cases above; the odd words too, to show how
// they are parsed.
const image_names listed = {"a.jpg", "b.jpg", "c.jpg", "", "..", ".x"};

// The album directory open for reading, as the album driver opens it.
struct album_dir {
    int fd;
    explicit album_dir(const std::string &path)
        : fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC))
    {}
    ~album_dir()
    {
        if (fd >= 0) close(fd);
    }
    album_dir(const album_dir &) = delete;
    album_dir &operator=(const album_dir &) = delete;
};

album_description read_album(const std::string &path, const image_names &names = listed)
{
    const album_dir dir(path);
    return read_description(dir.fd, path, names);
}

void expect_entries(const std::vector<description_entry> &got,
                    const std::vector<description_entry> &want)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].file, want[i].file) << "entry " << i;
        EXPECT_EQ(got[i].caption, want[i].caption) << "entry " << i;
    }
}

}  // namespace

TEST(description, lines)
{
    for (const description_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_dir album;
        write_file(album.file(".description"), c.content);
        const album_description description = read_album(album.path);
        EXPECT_EQ(description.title, c.title);
        expect_entries(description.entries, c.entries);
    }
}

TEST(description, missing_or_unreadable_file_is_no_error)
{
    temp_dir album;
    const auto is_empty = [](const album_description &d) { return !d.title && d.entries.empty(); };
    const captured_output missing =
        capture_output([&] { EXPECT_TRUE(is_empty(read_album(album.path))); });
    EXPECT_EQ(missing.err, "");

    // Nor is a missing album, whose directory could not be opened.
    EXPECT_TRUE(is_empty(read_album(album.file("gone"))));
    EXPECT_TRUE(is_empty(read_description(-1, album.path, listed)));

    // A file that cannot be read is taken as missing, without a word.
    if (geteuid() != 0) {
        write_file(album.file(".description"), ". Title\n");
        ASSERT_EQ(chmod(album.file(".description").c_str(), 0), 0);
        const captured_output unreadable =
            capture_output([&] { EXPECT_TRUE(is_empty(read_album(album.path))); });
        EXPECT_EQ(unreadable.err, "");
    }
}

// Anything but a regular file is named in a warning and not read: a
// directory opens but is no file, a socket cannot even be opened, and a link
// is not followed.
TEST(description, anything_but_a_regular_file_is_ignored_with_a_warning)
{
    const struct {
        const char *what;
        void (*plant)(const std::string &path);
    } kinds[] = {
        {"directory", [](const std::string &p) { make_dir(p); }},
        {"fifo", [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0666), 0); }},
        {"socket", [](const std::string &p) { make_socket(p); }},
        {"link to a good description",
         [](const std::string &p) {
             write_file(p + ".real", ". Title\na.jpg A\n");
             ASSERT_EQ(symlink(".description.real", p.c_str()), 0);
         }},
    };
    for (const auto &c : kinds) {
        SCOPED_TRACE(c.what);
        temp_dir album;
        c.plant(album.file(".description"));
        const captured_output o = capture_output([&] {
            const album_description description = read_album(album.path);
            EXPECT_FALSE(description.title);
            EXPECT_TRUE(description.entries.empty());
        });
        EXPECT_EQ(o.err, "   " + album.path + "/.description: not a regular file, ignored\n");
    }
}

// Only the title and the first caption of each listed image are kept: a long
// file of other lines costs reading time, not memory.
TEST(description, keeps_only_the_title_and_the_listed_images)
{
    temp_dir album;
    std::string content = ". First title\nb.jpg Bee\n";
    for (int i = 0; i < 1000; ++i) {
        content += std::to_string(i);
        content += ".jpg Not listed\na.jpg again\n";
    }
    content += "a.jpg too late\n. Last title\n";
    write_file(album.file(".description"), content);
    const std::string a = "a.jpg", b = "b.jpg", c = "c.jpg";

    const album_description description = read_album(album.path, {a, b, c});
    EXPECT_EQ(description.title, "Last title");
    expect_entries(description.entries, {{"b.jpg", "Bee"}, {"a.jpg", "again"}});

    const album_description none = read_album(album.path, {});
    EXPECT_EQ(none.title, "Last title");
    EXPECT_TRUE(none.entries.empty());
}

TEST(description, lookup_takes_the_first_exact_match)
{
    temp_dir album;
    write_file(album.file(".description"), "a.jpg First\n"
                                           "A.JPG Capitals\n"
                                           "a.jpg Second\n"
                                           " empty word\n"
                                           "b.jpg \n"
                                           "other.jpg Not in the album\n");
    const album_description description =
        read_album(album.path, {"a.jpg", "A.JPG", "b.jpg", "c.jpg"});
    const caption_index captions = index_captions(description.entries);

    EXPECT_EQ(lookup_caption(captions, "a.jpg"), "First");
    EXPECT_EQ(lookup_caption(captions, "A.JPG"), "Capitals");
    EXPECT_EQ(lookup_caption(captions, "b.jpg"), "");
    // No match, and the empty word matches nothing real: the name itself.
    const std::string name = "c.jpg";
    EXPECT_EQ(&lookup_caption(captions, name), &name);
    EXPECT_EQ(lookup_caption(captions, "a.jp"), "a.jp");
    EXPECT_EQ(lookup_caption({}, "a.jpg"), "a.jpg");
}
