// The album description file: titles and caption lines, read the way the
// line reader takes them (1023-byte pieces, first blank or tab separates).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "album/description.h"
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
    {"blanks after the word are skipped", "a.jpg   Sunset at sea\n", std::nullopt,
     {{"a.jpg", "Sunset at sea"}}},
    {"word alone is ignored", "a.jpg\n", std::nullopt, {}},
    {"word and one blank: empty caption", "a.jpg \n", std::nullopt, {{"a.jpg", ""}}},
    {"every leading isspace skipped, trailing blanks kept", "a.jpg \t\v\f\r x y  \n",
     std::nullopt, {{"a.jpg", "x y  "}}},
    {"only the first separator splits", "a.jpg\tone two\tthree\n", std::nullopt,
     {{"a.jpg", "one two\tthree"}}},
    {"carriage returns stay", "a.jpg Sunset\r\n. Trip\r\n", "Trip\r", {{"a.jpg", "Sunset\r"}}},
    {"carriage return alone is leading white space", ". \r\n", "", {}},
    {"last line without newline", "a.jpg first\nb.jpg last", std::nullopt,
     {{"a.jpg", "first"}, {"b.jpg", "last"}}},
    {"leading blank: empty word", " lonely words\n", std::nullopt, {{"", "lonely words"}}},
    {"only a full stop alone is a title", ".. dots\n.x y\n", std::nullopt,
     {{"..", "dots"}, {".x", "y"}}},
    {"empty lines ignored, file order kept", "b.jpg B\n\n\na.jpg A\nb.jpg again\n", std::nullopt,
     {{"b.jpg", "B"}, {"a.jpg", "A"}, {"b.jpg", "again"}}},
    {"long line: second piece is a line of its own",
     "a.jpg " + long_caption + "b.jpg tail\n. T\n", "T",
     {{"a.jpg", long_caption}, {"b.jpg", "tail"}}},
    {"long line: second piece without separator ignored",
     "a.jpg " + long_caption + "rest-of-it\nc.jpg c\n", std::nullopt,
     {{"a.jpg", long_caption}, {"c.jpg", "c"}}},
    {"line of exactly 1023 bytes: its newline is an empty piece",
     "a.jpg " + long_caption + "\nc.jpg c\n", std::nullopt,
     {{"a.jpg", long_caption}, {"c.jpg", "c"}}},
    {"empty file", "", std::nullopt, {}},
};

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
        const album_description description = read_description(album.path);
        EXPECT_EQ(description.title, c.title);
        expect_entries(description.entries, c.entries);
    }
}

TEST(description, missing_or_unreadable_file_is_no_error)
{
    temp_dir album;
    const auto is_empty = [](const album_description &d) { return !d.title && d.entries.empty(); };
    EXPECT_TRUE(is_empty(read_description(album.path)));

    // A directory is no description either (a warning says so).
    make_dir(album.file(".description"));
    EXPECT_TRUE(is_empty(read_description(album.path)));

    // Nor is a missing album.
    EXPECT_TRUE(is_empty(read_description(album.file("gone"))));
}

TEST(description, lookup_takes_the_first_exact_match)
{
    temp_dir album;
    write_file(album.file(".description"),
               "a.jpg First\n"
               "A.JPG Capitals\n"
               "a.jpg Second\n"
               " empty word\n"
               "b.jpg \n"
               "other.jpg Not in the album\n");
    const album_description description = read_description(album.path);
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
