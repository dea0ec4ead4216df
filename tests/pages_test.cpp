// The image pages and the thumbnail index pages, byte for byte: records
// built by hand, pages written into a temporary album, whole files compared.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/image_info.h"
#include "base/settings.h"
#include "pages/image_pages.h"
#include "pages/index_pages.h"
#include "support/golden.h"
#include "support/temp_dir.h"

#include <unistd.h>

namespace {

const std::string footer = "<hr />\n<div class=\"generated\">test footer</div>\n";

class pages_test : public testing::Test {
protected:
    void SetUp() override
    {
        album = dir.file("trip");
        make_dir(album);
    }

    // The page writers on the album held open, as the album driver calls them.
    result<int32_t> write_index(std::span<const image_info> images,
                                const std::string &title = "my webgallery")
    {
        return write_index_pages(held_dir(album), images, title, footer, config);
    }
    outcome write_images(std::span<const image_info> images,
                         const std::string &title = "my webgallery")
    {
        return write_image_pages(held_dir(album), images, title, footer, config);
    }

    settings_record config;

    temp_dir dir;
    std::string album;
};

// The record named as the listing names it: its page and derived files
// after it, the name standing in for a caption; the rest from `image`.
image_info named(const std::string &name, image_info image = {})
{
    image.name = name;
    image.page = name + ".html";
    image.derived = name;
    image.caption = name;
    return image;
}

// Image i of a paging case: p00.jpg, p01.jpg, ... with sizes that differ
// per image, so a cell shows which record it came from.
image_info numbered_image(int i)
{
    char name[16];
    std::snprintf(name, sizeof name, "p%02d.jpg", i);
    image_info image = named(name);
    image.file_size = 2048 * i + 1023;  // 2i KB after truncation
    image.width = 4000 + i;
    image.height = 3000;
    image.size(derived_kind::thumbs).width = 100 + i;
    image.size(derived_kind::thumbs).height = 75;
    return image;
}

std::vector<image_info> numbered_images(int count)
{
    std::vector<image_info> images;
    for (int i = 0; i < count; ++i) images.push_back(numbered_image(i));
    return images;
}

// The fixed fragments of a thumbnail index page, spelled out.
std::string index_head(const std::string &title, int page)
{
    const std::string heading = title + " / " + std::to_string(page);
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           heading +
           "</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"../vistrel.css\" />\n"
           "</head>\n<body bgcolor=\"#ffffff\">\n<h1 align=\"center\">" +
           heading +
           "</h1>\n<table width=\"100%\" border=\"0\">\n<tr>\n<th width=\"33%\"><small>\n";
}

std::string index_middle(const std::string &pictures)
{
    return "</small></th>\n<th width=\"34%\"><small>\n" + pictures +
           "\n</small></th>\n<th width=\"33%\"><small>\n";
}

const std::string index_header_end = "</small></th>\n</tr>\n</table>\n";
const std::string index_grid_start = "<p>\n<table width=\"100%\" border=\"0\">\n";

const std::string index_tail =
    "<p align=\"center\">\n<a href=\"../index.html\"><small>Back to gallery "
    "index</small></a>\n</p>\n" +
    footer + "</body>\n</html>\n";

std::string numbered_cell(int i)
{
    const image_info image = numbered_image(i);
    return "<td align=\"center\">\n<a href=\"" + image.name + ".html\"><img src=\".thumbs/" +
           image.name + "\" border=\"0\" alt=\"" + image.name + "\" width=\"" +
           std::to_string(100 + i) + "\" height=\"75\"></a><br>\n<small>" +
           std::to_string(4000 + i) + " x 3000, " + std::to_string(2 * i) +
           " KB</small>\n<br><br>\n</td>\n";
}

// ---------------------------------------------------------------------------
// Thumbnail index pages

TEST_F(pages_test, index_single_image_whole_page)
{
    image_info image = numbered_image(0);
    image.file_size = 1023;  // below one KB shows 0 KB
    const std::vector<image_info> images{image};

    EXPECT_EQ(*write_index(images), 1);
    expect_golden(read_file(album + "/index.html"), "pages/index_single_image.html");
    EXPECT_EQ(list_names(album), (std::vector<std::string>{"index.html"}));
}

struct expected_index_page {
    std::string file;
    std::string previous;  // the first header cell's link, or empty
    std::string pictures;  // the middle header cell
    std::string next;      // the third header cell's link, or empty
    std::vector<std::vector<int>> rows;
};

struct paging_case {
    const char *label;
    int32_t count;
    int32_t columns;
    int32_t rows;
    std::vector<expected_index_page> pages;
};

std::ostream &operator<<(std::ostream &os, const paging_case &c) { return os << c.label; }

class index_paging : public pages_test, public testing::WithParamInterface<paging_case> {};

// -n's row of page numbers: every page by number, the current one in bold;
// nothing for an album of one page.
std::string page_list(size_t pages, size_t current)
{
    if (pages < 2) return "";
    std::string list = "<p class=\"pagelist\">";
    for (size_t p = 1; p <= pages; ++p) {
        if (p > 1) list += " ";
        const std::string number = std::to_string(p);
        if (p == current)
            list += "<b>" + number + "</b>";
        else
            list += "<a href=\"" + std::string(p == 1 ? "index" : "index" + number) + ".html\">" +
                    number + "</a>";
    }
    return list + "</p>\n";
}

TEST_P(index_paging, pages_links_and_rows)
{
    const paging_case &c = GetParam();
    config.columns = c.columns;
    config.rows = c.rows;
    // A page numbered above the new count, left from an earlier run, stays.
    write_file(album + "/index9.html", "old");

    for (const bool numbers : {false, true}) {
        SCOPED_TRACE(numbers ? "-n" : "without -n");
        config.page_numbers = numbers;
        EXPECT_EQ(*write_index(numbered_images(c.count)), static_cast<int32_t>(c.pages.size()));

        std::set<std::string> files{"index9.html"};
        for (size_t p = 0; p < c.pages.size(); ++p) {
            const expected_index_page &page = c.pages[p];
            std::string grid;
            for (const std::vector<int> &row : page.rows) {
                grid += "<tr>\n";
                for (int i : row) grid += numbered_cell(i);
                grid += "</tr>\n";
            }
            const std::string list = numbers ? page_list(c.pages.size(), p + 1) : "";
            const std::string expected = index_head("my webgallery", static_cast<int>(p) + 1) +
                                         page.previous + index_middle(page.pictures) + page.next +
                                         index_header_end + list + index_grid_start + grid +
                                         "</table>\n" + list + index_tail;
            EXPECT_EQ(read_file(album + "/" + page.file), expected) << page.file;
            files.insert(page.file);
        }
        EXPECT_EQ(list_names(album), std::vector<std::string>(files.begin(), files.end()));
        EXPECT_EQ(read_file(album + "/index9.html"), "old");
    }
}

TEST_F(pages_test, page_list_text)
{
    config.columns = 2;
    config.rows = 2;
    config.page_numbers = true;
    ASSERT_TRUE(write_index(numbered_images(9)).ok());
    const std::string page = read_file(album + "/index2.html");
    const std::string list =
        "<p class=\"pagelist\"><a href=\"index.html\">1</a> <b>2</b> <a href=\"index3.html\">3</a></p>\n";
    EXPECT_NE(page.find("</small></th>\n</tr>\n</table>\n" + list + "<p>\n<table"),
              std::string::npos);
    EXPECT_NE(page.find("</tr>\n</table>\n" + list + "<p align=\"center\">"), std::string::npos);
}

// The list as a reader sees it, "1 … 5 6 [7] 8 9 … 20", spelled out as
// markup: [n] the current page, … a gap, any other number a link.
std::string page_list_markup(const std::string &shown)
{
    std::string list = "<p class=\"pagelist\">";
    size_t start = 0;
    while (start < shown.size()) {
        size_t end = shown.find(' ', start);
        if (end == std::string::npos) end = shown.size();
        const std::string entry = shown.substr(start, end - start);
        if (start > 0) list += " ";
        if (entry == "\u2026")
            list += "<span class=\"gap\">&hellip;</span>";
        else if (entry.front() == '[')
            list += "<b>" + entry.substr(1, entry.size() - 2) + "</b>";
        else
            list += "<a href=\"" + std::string(entry == "1" ? "index" : "index" + entry) +
                    ".html\">" + entry + "</a>";
        start = end + 1;
    }
    return list + "</p>\n";
}

// -n in a long album: page 1, the last page and two on either side of the
// current one, each run of the others one gap; every page of up to nine.
TEST_F(pages_test, page_list_of_long_albums)
{
    struct list_case {
        int pages;
        int page;
        const char *shown;
    };
    const list_case cases[] = {
        {9, 1, "[1] 2 3 4 5 6 7 8 9"},
        {9, 2, "1 [2] 3 4 5 6 7 8 9"},
        {9, 5, "1 2 3 4 [5] 6 7 8 9"},
        {9, 8, "1 2 3 4 5 6 7 [8] 9"},
        {9, 9, "1 2 3 4 5 6 7 8 [9]"},
        {10, 1, "[1] 2 3 \u2026 10"},
        {10, 2, "1 [2] 3 4 \u2026 10"},
        {10, 4, "1 2 3 [4] 5 6 \u2026 10"},
        {10, 5, "1 \u2026 3 4 [5] 6 7 \u2026 10"},
        {10, 9, "1 \u2026 7 8 [9] 10"},
        {10, 10, "1 \u2026 8 9 [10]"},
        {300, 1, "[1] 2 3 \u2026 300"},
        {300, 2, "1 [2] 3 4 \u2026 300"},
        {300, 150, "1 \u2026 148 149 [150] 151 152 \u2026 300"},
        {300, 299, "1 \u2026 297 298 [299] 300"},
        {300, 300, "1 \u2026 298 299 [300]"},
    };
    config.columns = 1;
    config.rows = 1;
    config.page_numbers = true;
    int written = 0;
    for (const list_case &c : cases) {
        SCOPED_TRACE(std::to_string(c.page) + " of " + std::to_string(c.pages));
        if (c.pages != written) {
            ASSERT_EQ(*write_index(numbered_images(c.pages)), c.pages);
            written = c.pages;
        }
        const std::string file = c.page == 1 ? "index.html"
                                             : "index" + std::to_string(c.page) + ".html";
        const std::string page = read_file(album + "/" + file);
        const std::string list = page_list_markup(c.shown);
        // Above and below the thumbnails, and nowhere else.
        const size_t above = page.find(index_header_end + list + index_grid_start);
        ASSERT_NE(above, std::string::npos) << page;
        EXPECT_NE(page.find("</table>\n" + list + "<p align=\"center\">", above + list.size()),
                  std::string::npos)
            << page;
        size_t lists = 0;
        for (size_t at = page.find("<p class="); at != std::string::npos;
             at = page.find("<p class=", at + 1))
            ++lists;
        EXPECT_EQ(lists, 2u);
    }
}

// Laid out by hand; the formatter leaves it so.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    pages, index_paging,
    testing::Values(
        paging_case{"exact_multiple_of_capacity", 8, 2, 2,
                    {{"index.html", "", "pictures 1 - 4 of 8",
                      "<a href=\"index2.html\">next 4 pictures</a>", {{0, 1}, {2, 3}}},
                     {"index2.html", "<a href=\"index.html\">previous 4 pictures</a>\n",
                      "pictures 5 - 8 of 8", "", {{4, 5}, {6, 7}}}}},
        paging_case{"one_above_a_multiple", 9, 2, 2,
                    {{"index.html", "", "pictures 1 - 4 of 9",
                      "<a href=\"index2.html\">next 4 pictures</a>", {{0, 1}, {2, 3}}},
                     {"index2.html", "<a href=\"index.html\">previous 4 pictures</a>\n",
                      "pictures 5 - 8 of 9", "<a href=\"index3.html\">next picture</a>",
                      {{4, 5}, {6, 7}}},
                     {"index3.html", "<a href=\"index2.html\">previous 4 pictures</a>\n",
                      "pictures 9 - 9 of 9", "", {{8}}}}},
        paging_case{"short_remainder_and_short_last_row", 7, 2, 2,
                    {{"index.html", "", "pictures 1 - 4 of 7",
                      "<a href=\"index2.html\">next 3 pictures</a>", {{0, 1}, {2, 3}}},
                     {"index2.html", "<a href=\"index.html\">previous 4 pictures</a>\n",
                      "pictures 5 - 7 of 7", "", {{4, 5}, {6}}}}},
        paging_case{"seven_images_three_columns_one_row", 7, 3, 1,
                    {{"index.html", "", "pictures 1 - 3 of 7",
                      "<a href=\"index2.html\">next 3 pictures</a>", {{0, 1, 2}}},
                     {"index2.html", "<a href=\"index.html\">previous 3 pictures</a>\n",
                      "pictures 4 - 6 of 7", "<a href=\"index3.html\">next picture</a>",
                      {{3, 4, 5}}},
                     {"index3.html", "<a href=\"index2.html\">previous 3 pictures</a>\n",
                      "pictures 7 - 7 of 7", "", {{6}}}}},
        paging_case{"one_row_one_column", 3, 1, 1,
                    {{"index.html", "", "pictures 1 - 1 of 3",
                      "<a href=\"index2.html\">next 1 pictures</a>", {{0}}},
                     {"index2.html", "<a href=\"index.html\">previous 1 pictures</a>\n",
                      "pictures 2 - 2 of 3", "<a href=\"index3.html\">next picture</a>", {{1}}},
                     {"index3.html", "<a href=\"index2.html\">previous 1 pictures</a>\n",
                      "pictures 3 - 3 of 3", "", {{2}}}}},
        // rows × columns beyond 32 bits: one page holds everything.
        paging_case{"capacity_of_exactly_two_to_the_32", 3, 65536, 65536,
                    {{"index.html", "", "pictures 1 - 3 of 3", "", {{0, 1, 2}}}}},
        paging_case{"capacity_wrapping_to_minus_one", 3, 65535, 65537,
                    {{"index.html", "", "pictures 1 - 3 of 3", "", {{0, 1, 2}}}}},
        paging_case{"largest_rows_and_columns", 3, INT32_MAX, INT32_MAX,
                    {{"index.html", "", "pictures 1 - 3 of 3", "", {{0, 1, 2}}}}}),
    [](const testing::TestParamInfo<paging_case> &test) { return std::string(test.param.label); });
// clang-format on

TEST_F(pages_test, index_writes_nothing_without_images)
{
    EXPECT_EQ(*write_index({}), 0);
    EXPECT_TRUE(list_names(album).empty());
}

// The title is the owner's markup: written unchanged, even when empty.
TEST_F(pages_test, index_titles)
{
    const std::vector<image_info> images = numbered_images(1);
    for (const std::string title : {"Summer <em>2024</em> &amp; more", "", "<b>Mine</b>"}) {
        ASSERT_TRUE(write_index(images, title).ok());
        const std::string page = read_file(album + "/index.html");
        EXPECT_EQ(page.substr(0, index_head(title, 1).size()), index_head(title, 1)) << title;
    }
}

// -D: the caption under each thumbnail. A caption from .description is the
// owner's markup; a name standing in for one is data and is escaped.
TEST_F(pages_test, index_show_caption)
{
    std::vector<image_info> images = numbered_images(2);
    images[0].caption = "Sunset <b>over</b> the bay &amp; pier";
    images[0].caption_from_description = true;
    images[1] = named("Tom & Jerry's <1>.jpg", images[1]);

    config.show_caption = true;
    ASSERT_TRUE(write_index(images).ok());
    expect_golden(read_file(album + "/index.html"), "pages/index_show_caption.html");
}

// Names are data: quotes cannot end an attribute, and % # ? : \ and bytes
// beyond ASCII in a link are percent-encoded so the browser asks for the
// file itself, on this host, whatever encoding it assumes.
TEST_F(pages_test, index_hostile_name)
{
    const image_info image = named("a\"b&c<d>'e%f#g?h:i\\j\xc3\xa9.jpg", numbered_image(0));

    ASSERT_TRUE(write_index(std::vector<image_info>{image}).ok());
    expect_golden(read_file(album + "/index.html"), "pages/index_hostile_name.html");
}

// ---------------------------------------------------------------------------
// Image pages

std::vector<image_info> trip_images()
{
    std::vector<image_info> images(3);
    images[0] = named("a.jpg");
    images[0].file_size = 1023;
    images[0].width = 3000;
    images[0].height = 4000;
    images[0].size(derived_kind::scaled).width = 360;
    images[0].size(derived_kind::scaled).height = 480;
    images[0].size(derived_kind::thumbs).width = 72;
    images[0].size(derived_kind::thumbs).height = 96;

    images[1] = named("b.jpg");
    images[1].caption = "Beach at <i>dawn</i>";
    images[1].caption_from_description = true;
    images[1].file_size = 2 * 1024 * 1024 + 1023;
    images[1].width = 4000;
    images[1].height = 3000;
    images[1].size(derived_kind::scaled).width = 640;
    images[1].size(derived_kind::scaled).height = 480;
    images[1].size(derived_kind::thumbs).width = 128;
    images[1].size(derived_kind::thumbs).height = 96;
    images[1].exif_taken = "2024:05:01 06:12:00";
    images[1].exif_flash = "Flash did not fire";
    images[1].exif_model = "Camera X";

    images[2] = named("c.jpg");
    images[2].file_size = 4096;
    images[2].width = 1000;
    images[2].height = 1000;
    images[2].size(derived_kind::scaled).width = 480;
    images[2].size(derived_kind::scaled).height = 480;
    images[2].size(derived_kind::thumbs).width = 96;
    images[2].size(derived_kind::thumbs).height = 96;
    return images;
}

TEST_F(pages_test, image_pages_whole_text)
{
    ASSERT_TRUE(write_images(trip_images(), "Trip").ok());

    EXPECT_EQ(list_names(album),
              (std::vector<std::string>{"a.jpg.html", "b.jpg.html", "c.jpg.html"}));

    // The first page: no previous image; an image without EXIF texts still
    // gets the table, with no row.
    expect_golden(read_file(album + "/a.jpg.html"), "pages/trip_a.jpg.html");

    // The middle page: both neighbours, the caption from .description as
    // markup, the present EXIF rows in their fixed order.
    expect_golden(read_file(album + "/b.jpg.html"), "pages/trip_b.jpg.html");

    // The last page: no next image.
    const std::string last = read_file(album + "/c.jpg.html");
    EXPECT_NE(last.find("<small>previous image</small></a></td>\n"), std::string::npos);
    EXPECT_NE(last.find(
                  "<td width=\"33%\" align=\"center\" valign=\"top\"></td>\n</tr>\n</table>\n"),
              std::string::npos);
}

// -n: each image page says where the image stands in the album's order, on
// a line of its own before the link to the original; nothing else changes.
TEST_F(pages_test, image_pages_position)
{
    const std::vector<image_info> images = trip_images();
    ASSERT_TRUE(write_images(images, "Trip").ok());
    std::vector<std::string> plain;
    for (const image_info &image : images) plain.push_back(read_file(album + "/" + image.page));

    config.page_numbers = true;
    ASSERT_TRUE(write_images(images, "Trip").ok());
    const std::string cell = "<td width=\"34%\" align=\"center\">\n";
    for (size_t i = 0; i < images.size(); ++i) {
        SCOPED_TRACE(images[i].name);
        std::string expected = plain[i];
        const size_t at =
            expected.find(cell + "<small><a href=\"" + images[i].name + "\">Original size (");
        ASSERT_NE(at, std::string::npos) << expected;
        expected.insert(at + cell.size(), "<small class=\"position\">" + std::to_string(i + 1) +
                                              " of 3</small><br />\n");
        EXPECT_EQ(read_file(album + "/" + images[i].page), expected);
    }
}

// One image, all five EXIF texts (two of them hostile), in every EXIF mode:
// the whole page is head, the mode's block, the back link and the tail.
TEST_F(pages_test, image_page_exif_modes)
{
    image_info image = named("x.jpg");
    image.file_size = 10 * 1024;
    image.width = 40;
    image.height = 30;
    image.size(derived_kind::scaled).width = 4;
    image.size(derived_kind::scaled).height = 3;
    image.exif_taken = "2020:01:02 03:04:05";
    image.exif_aperture = "f/2.8";
    image.exif_exposure = "1/60 sec.";
    image.exif_flash = "Fired --> <b>oops</b>";
    image.exif_model = "<script>alert('x')</script> & co";

    // The whole page is head, the mode's block, the back link and the tail;
    // the closing </small> is written in every mode, even where nothing
    // opened it. An unknown mode writes no block, as none does.
    struct mode_case {
        exif_mode mode;
        const char *golden;
    };
    const mode_case cases[] = {
        {exif_mode::table, "pages/exif_table.html"},
        // The escaped "-->" cannot end the comment early.
        {exif_mode::comment, "pages/exif_comment.html"},
        {exif_mode::none, "pages/exif_none.html"},
        {static_cast<exif_mode>(7), "pages/exif_none.html"},
    };
    for (const mode_case &c : cases) {
        SCOPED_TRACE("mode " + std::to_string(static_cast<int>(c.mode)));
        config.exif_mode = c.mode;
        ASSERT_TRUE(write_images(std::span<const image_info>(&image, 1)).ok());
        expect_golden(read_file(album + "/x.jpg.html"), c.golden);
    }

    // Without any EXIF text the comment keeps only its first and last line.
    for (auto field :
         {&image_info::exif_taken, &image_info::exif_aperture, &image_info::exif_exposure,
          &image_info::exif_flash, &image_info::exif_model})
        (image.*field).reset();
    config.exif_mode = exif_mode::comment;
    ASSERT_TRUE(write_images(std::span<const image_info>(&image, 1)).ok());
    expect_golden(read_file(album + "/x.jpg.html"), "pages/exif_comment_without_texts.html");
}

// A hostile file name on its own page and as a neighbour: escaped wherever
// it is text, percent-encoded and escaped wherever it is a link.
TEST_F(pages_test, image_page_hostile_names)
{
    std::vector<image_info> images(2);
    images[0] = named("50% \"off\" #1?.jpg");
    images[0].size(derived_kind::thumbs).width = 8;
    images[0].size(derived_kind::thumbs).height = 6;
    images[1] = named("<img src=x onerror=alert(1)>:'.jpg");
    images[1].file_size = 1024;
    images[1].width = 2;
    images[1].height = 1;
    images[1].size(derived_kind::scaled).width = 20;
    images[1].size(derived_kind::scaled).height = 10;
    config.exif_mode = exif_mode::none;

    ASSERT_TRUE(write_images(images).ok());
    EXPECT_EQ(list_names(album),
              (std::vector<std::string>{"50% \"off\" #1?.jpg.html",
                                        "<img src=x onerror=alert(1)>:'.jpg.html"}));
    expect_golden(read_file(album + "/<img src=x onerror=alert(1)>:'.jpg.html"),
                  "pages/image_page_hostile_names.html");
}

// Each image links back to the index page that shows it, for sane
// capacities and for rows × columns beyond 32 bits.
TEST_F(pages_test, image_back_pages)
{
    struct back_case {
        int32_t columns;
        int32_t rows;
        int count;
        std::vector<int> back_pages;  // per image
    };
    const back_case cases[] = {
        {2, 2, 9, {1, 1, 1, 1, 2, 2, 2, 2, 3}}, {1, 1, 3, {1, 2, 3}},
        {3, 1, 7, {1, 1, 1, 2, 2, 2, 3}},       {65536, 65536, 3, {1, 1, 1}},
        {65535, 65537, 3, {1, 1, 1}},           {INT32_MAX, INT32_MAX, 3, {1, 1, 1}},
    };
    config.exif_mode = exif_mode::none;
    for (const back_case &c : cases) {
        config.columns = c.columns;
        config.rows = c.rows;
        const std::vector<image_info> images = numbered_images(c.count);
        ASSERT_TRUE(write_images(images).ok());
        for (int i = 0; i < c.count; ++i) {
            const int b = c.back_pages[static_cast<size_t>(i)];
            const std::string link =
                "<p>\n<a href=\"" +
                (b == 1 ? std::string("index.html") : "index" + std::to_string(b) + ".html") +
                "\">Back to thumbnails</a>\n</small>\n";
            EXPECT_NE(
                read_file(album + "/" + images[static_cast<size_t>(i)].name + ".html").find(link),
                std::string::npos)
                << c.columns << "x" << c.rows << " image " << i << " expects " << link;
        }
    }
}

// ---------------------------------------------------------------------------
// Failures come back as values naming the page's temporary file; pages
// already written stay whole, and the failing page leaves nothing behind.

TEST_F(pages_test, open_failure_messages)
{
    // The album held open, then taken away: nothing can be created in it.
    const open_dir gone = held_dir(album);
    ASSERT_EQ(rmdir(album.c_str()), 0);
    const std::vector<image_info> images = numbered_images(1);

    const result<int32_t> index = write_index_pages(gone, images, "my webgallery", footer, config);
    ASSERT_FALSE(index.ok());
    EXPECT_EQ(index.error().text,
              "can't fopen(" + album + "/index.html.tmp): No such file or directory\n");
    const outcome image = write_image_pages(gone, images, "my webgallery", footer, config);
    ASSERT_FALSE(image.ok());
    EXPECT_EQ(image.error().text,
              "fopen(" + album + "/p00.jpg.html.tmp) failed: No such file or directory\n");
}

TEST_F(pages_test, rename_failure_keeps_earlier_pages)
{
    config.columns = 1;
    config.rows = 1;
    const std::vector<image_info> images = numbered_images(3);

    // A directory where the second page belongs: its rename fails.
    make_dir(album + "/index2.html");
    write_file(album + "/index2.html/keep", "");
    make_dir(album + "/p01.jpg.html");
    write_file(album + "/p01.jpg.html/keep", "");

    const result<int32_t> index = write_index(images);
    ASSERT_FALSE(index.ok());
    EXPECT_EQ(index.error().text, "can't rename(" + album + "/index2.html.tmp, " + album +
                                      "/index2.html): Is a directory\n");
    const outcome image = write_images(images);
    ASSERT_FALSE(image.ok());
    EXPECT_EQ(image.error().text, "can't rename(" + album + "/p01.jpg.html.tmp, " + album +
                                      "/p01.jpg.html): Is a directory\n");

    // Both stopped at the second page: the first is complete under its
    // final name, and the second left no temporary file behind.
    EXPECT_EQ(list_names(album), (std::vector<std::string>{"index.html", "index2.html",
                                                           "p00.jpg.html", "p01.jpg.html"}));
    const std::string first = read_file(album + "/index.html");
    EXPECT_EQ(first.substr(first.size() - index_tail.size()), index_tail);
    const std::string image_page = read_file(album + "/p00.jpg.html");
    EXPECT_EQ(image_page.substr(image_page.size() - 14), "</body></html>");
}

}  // namespace
