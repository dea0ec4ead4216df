// Images as headless Chromium shows them, driven over the DevTools protocol:
// a photo turned by its EXIF orientation must look as the browser itself
// shows the original, a photo tagged with a colour profile must keep its
// colours, and with -2 a high-density screen must get the double-density
// files and a plain screen the normal ones. HEIF photographs turned by
// their container are shown upright too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/devtools.h"
#include "support/heif_fixture.h"
#include "support/icc_fixture.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/screen_pixels.h"
#include "support/temp_dir.h"

namespace {

// The EXIF table of orientations: which side of the upright picture row 0
// and column 0 of the stored pixels show.
enum class side { top, bottom, left, right };

struct orientation_case {
    uint16_t value;
    side row0;
    side column0;
};

const orientation_case orientations[] = {
    {1, side::top, side::left},     {2, side::top, side::right},   {3, side::bottom, side::right},
    {4, side::bottom, side::left},  {5, side::left, side::top},    {6, side::right, side::top},
    {7, side::right, side::bottom}, {8, side::left, side::bottom},
};

// Not square, so that a turn by a quarter shows in the size too; halves on
// whole JPEG blocks, so that the colours meet at block edges.
constexpr int upright_width = 320;
constexpr int upright_height = 256;

// Four quadrants of clearly different colours, each shaded by a diagonal
// gradient: every mirror or turn gives another picture.
std::vector<uint8_t> upright_picture()
{
    static constexpr uint8_t quadrant[4][3] = {
        {200, 40, 40}, {40, 170, 60}, {40, 60, 200}, {220, 200, 40}};
    std::vector<uint8_t> pixels(size_t{upright_width} * upright_height * 3);
    uint8_t *p = pixels.data();
    for (int y = 0; y < upright_height; ++y) {
        for (int x = 0; x < upright_width; ++x) {
            const int q = (y < upright_height / 2 ? 0 : 2) + (x < upright_width / 2 ? 0 : 1);
            const int shade = 50 * (x + 2 * y) / (upright_width + 2 * upright_height) - 25;
            for (int c = 0; c < 3; ++c)
                *p++ = static_cast<uint8_t>(std::clamp(quadrant[q][c] + shade, 0, 255));
        }
    }
    return pixels;
}

// The file a camera would write for the upright picture held at that
// orientation: the stored pixels, and the tag that says how to turn them.
jpeg_recipe stored_as(const orientation_case &o, const std::vector<uint8_t> &upright)
{
    // Row 0 at the top or bottom: stored rows are rows of the picture;
    // at the left or right: they are its columns.
    const bool rows_are_rows = o.row0 == side::top || o.row0 == side::bottom;
    jpeg_recipe recipe{.width = rows_are_rows ? upright_width : upright_height,
                       .height = rows_are_rows ? upright_height : upright_width,
                       .quality = 95,
                       .exif = exif_recipe{.orientation = o.value}};
    recipe.pixels.resize(upright.size());
    uint8_t *to = recipe.pixels.data();
    for (int sy = 0; sy < recipe.height; ++sy) {
        for (int sx = 0; sx < recipe.width; ++sx) {
            int ux;
            int uy;
            if (rows_are_rows) {
                uy = o.row0 == side::top ? sy : upright_height - 1 - sy;
                ux = o.column0 == side::left ? sx : upright_width - 1 - sx;
            } else {
                ux = o.row0 == side::left ? sy : upright_width - 1 - sy;
                uy = o.column0 == side::top ? sx : upright_height - 1 - sx;
            }
            const uint8_t *from = upright.data() + (size_t(uy) * upright_width + size_t(ux)) * 3;
            to = std::copy(from, from + 3, to);
        }
    }
    return recipe;
}

std::string orientation_name(uint16_t value)
{
    return std::string("o") + char('0' + value) + ".jpg";
}

// Other pictures a wrong orientation could give at the right size: every
// mirror and the half turn of the upright one, and the stored pixels
// unturned (the tag ignored).
struct wrong_view {
    const char *name;
    const char *style;
};

const wrong_view wrong_views[] = {
    {"mirrored left to right", "transform: scaleX(-1)"},
    {"mirrored top to bottom", "transform: scaleY(-1)"},
    {"turned half round", "transform: rotate(180deg)"},
    {"tag ignored", "image-orientation: none"},
};

// A mean difference per sample above this is another picture. Compression
// and two different scalers stay well below it; the smallest wrong view
// differs by several times as much.
constexpr double orientation_tolerance = 8.0;

struct shown_image {
    int width = 0;  // CSS pixels, as the markup states
    int height = 0;
    int natural_width = 0;
    int natural_height = 0;
};

shown_image image_in_page(devtools_page &page, const std::string &selector)
{
    const json_value v = page.evaluate(
        "(() => { const i = document.querySelector(" + json_quote(selector) +
        "); return i ? [+i.getAttribute('width'), +i.getAttribute('height'), i.naturalWidth, i.naturalHeight]"
        " : null; })()");
    if (v.is_null()) throw std::runtime_error("no image " + selector);
    const auto &a = v.as_array();
    return {int(a.at(0).as_int()), int(a.at(1).as_int()), int(a.at(2).as_int()),
            int(a.at(3).as_int())};
}

// The originals as the browser itself shows them (upright, by its default
// image-orientation: from-image) in boxes of the given size, each on whole
// pixels: as they should look, and in every wrong view; then the upright
// picture from a file without a tag.
void write_reference_page(const std::string &path, const std::string &album_dir,
                          const std::string &untagged, int width, int height)
{
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><style>"
        "body { margin: 0; background: #fff; } img { position: absolute; display: block; }"
        "</style></head><body>\n";
    const auto box = [&](const std::string &id, const std::string &file, int column, int row,
                         const std::string &style) {
        html += "<img id=\"" + id + "\" src=\"" + file_url(file) +
                "\" style=\"width: " + std::to_string(width) +
                "px; height: " + std::to_string(height) +
                "px; left: " + std::to_string(column * (width + 10)) +
                "px; top: " + std::to_string(row * (height + 10)) + "px; " + style + "\">\n";
    };
    int row = 0;
    for (const orientation_case &o : orientations) {
        const std::string file = album_dir + "/" + orientation_name(o.value);
        const std::string id = std::to_string(o.value);
        box("right" + id, file, 0, row, "");
        for (size_t w = 0; w < std::size(wrong_views); ++w)
            box("wrong" + id + "-" + std::to_string(w), file, int(w) + 1, row,
                wrong_views[w].style);
        ++row;
    }
    box("untagged", untagged, 0, row, "");
    write_file(path, html + "</body></html>\n");
}

struct derived_view {
    const char *what;
    const char *dir;                               // of the derived image, as its src starts
    int height;                                    // upright, by default
    std::string (*page)(const std::string &name);  // the page that shows it
};

// The thumbnail on the index page and the scaled image on the image page,
// both upright at 5:4 with -H 240.
const derived_view derived_views[] = {
    {"thumbnail", ".thumbs", 96, [](const std::string &) { return std::string("index.html"); }},
    {"scaled image", ".scaled", 240, [](const std::string &name) { return name + ".html"; }},
};

// The upright picture in a file without a tag, outside the gallery: what
// every derived view is compared with, after the fixtures' own check.
std::string write_untagged(const temp_dir &root, const std::vector<uint8_t> &upright)
{
    const std::string path = root.file("upright.jpg");
    write_jpeg(
        path, {.width = upright_width, .height = upright_height, .quality = 95, .pixels = upright});
    return path;
}

TEST(browser_images, turned_photos_look_as_the_browser_shows_the_originals)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    temp_dir root;
    const std::string gallery = root.file("gallery");
    const std::string album = gallery + "/turned";
    make_dir(gallery);
    make_dir(album);
    write_file(gallery + "/vistrel.css", "body { margin: 8px; }\n");
    const std::vector<uint8_t> upright = upright_picture();
    for (const orientation_case &o : orientations)
        write_jpeg(album + "/" + orientation_name(o.value), stored_as(o, upright));
    const std::string untagged = write_untagged(root, upright);
    // Scaled images half the default height: smaller captures to compare.
    const run_result r = run_vistrel({"-H", "240", gallery});
    ASSERT_EQ(r.status, 0) << r.err;

    devtools_browser browser;
    devtools_page page(browser);
    page.set_device({.width = 1280, .height = 900, .scale_factor = 1, .mobile = false});

    double worst_right = 0;
    double best_wrong = 1e9;
    for (const derived_view &view : derived_views) {
        SCOPED_TRACE(view.what);
        const int width = view.height * upright_width / upright_height;
        const std::string reference =
            root.file(std::string("reference-") + std::to_string(view.height) + ".html");
        write_reference_page(reference, album, untagged, width, view.height);

        std::vector<decoded_jpeg> shown;
        std::string shown_url;
        for (const orientation_case &o : orientations) {
            const std::string name = orientation_name(o.value);
            SCOPED_TRACE(name);
            const std::string selector = std::string("img[src=\"") + view.dir + "/" + name + "\"]";
            if (const std::string url = file_url(album + "/" + view.page(name)); url != shown_url) {
                page.navigate(url);
                page.settle();
                shown_url = url;
            }
            const shown_image image = image_in_page(page, selector);
            ASSERT_EQ(image.width, width);
            ASSERT_EQ(image.height, view.height);
            ASSERT_EQ(image.natural_width, width);
            ASSERT_EQ(image.natural_height, view.height);
            shown.push_back(screen_pixels(page, page.element_rect(selector)));
        }

        // One capture of every box on the reference page, cut up afterwards.
        page.navigate(file_url(reference));
        page.settle();
        const css_rect whole{0, 0, double(width + 10) * double(1 + std::size(wrong_views)),
                             double(view.height + 10) * double(std::size(orientations) + 1)};
        const decoded_jpeg references = screen_pixels(page, whole);
        const auto reference_box = [&](const std::string &id) {
            return crop(references, whole, page.element_rect("#" + id));
        };
        const decoded_jpeg picture = reference_box("untagged");
        for (size_t i = 0; i < std::size(orientations); ++i) {
            const uint16_t value = orientations[i].value;
            SCOPED_TRACE(orientation_name(value));
            const std::string id = std::to_string(value);
            // The fixtures hold what they claim: the browser shows every file
            // as the one upright picture.
            ASSERT_LT(mean_difference(reference_box("right" + id), picture), orientation_tolerance);
            const double right = mean_difference(shown[i], reference_box("right" + id));
            EXPECT_LT(right, orientation_tolerance)
                << "differs from the original as the browser turns it";
            worst_right = std::max(worst_right, right);
            for (size_t w = 0; w < std::size(wrong_views); ++w) {
                if (value == 1 && std::string(wrong_views[w].name) == "tag ignored")
                    continue;  // the same picture
                const double wrong = mean_difference(shown[i], reference_box("wrong" + id + "-" +
                                                                             std::to_string(w)));
                EXPECT_GT(wrong, 3 * orientation_tolerance)
                    << "as close to the picture " << wrong_views[w].name;
                best_wrong = std::min(best_wrong, wrong);
            }
        }
    }
    RecordProperty("worst_right_difference", std::to_string(worst_right));
    RecordProperty("smallest_wrong_difference", std::to_string(best_wrong));
}

// HEIF photographs turned and mirrored by their container (irot, imir),
// one of them with an EXIF tag that says the same turn again: every
// derived image shows the one upright picture at its stated size, as the
// untagged upright JPEG looks in the browser, and unlike its mirrors and
// half turn.
TEST(browser_images, heif_photos_are_shown_upright_at_their_stated_size)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    struct heif_case {
        const char *name;
        uint16_t orientation;  // the container's
        bool exif_too;         // an EXIF Orientation saying the same turn
    };
    const heif_case cases[] = {
        {"rotated.heic", 6, false}, {"rotated left.heic", 8, false}, {"mirrored.heic", 2, false},
        {"phone.heic", 6, true},    {"turned.avif", 3, false},
    };
    temp_dir root;
    const std::string gallery = root.file("gallery");
    const std::string album = gallery + "/heif";
    make_dir(gallery);
    make_dir(album);
    write_file(gallery + "/vistrel.css", "body { margin: 8px; }\n");
    const std::vector<uint8_t> upright = upright_picture();
    for (const heif_case &c : cases) {
        const jpeg_recipe stored = stored_as(orientations[c.orientation - 1], upright);
        heif_recipe spec{.format = std::string(c.name).ends_with(".avif")
                                       ? heif_recipe::codec::av1
                                       : heif_recipe::codec::hevc,
                         .width = stored.width,
                         .height = stored.height,
                         .quality = 95,
                         .pixels = stored.pixels,
                         .orientation = c.orientation};
        if (c.exif_too) spec.exif = exif_recipe{.orientation = c.orientation};
        write_heif(album + "/" + c.name, spec);
    }
    const std::string untagged = write_untagged(root, upright);
    const run_result r = run_vistrel({"-i", "-H", "240", gallery});
    ASSERT_EQ(r.status, 0) << r.err;

    devtools_browser browser;
    devtools_page page(browser);
    page.set_device({.width = 1280, .height = 900, .scale_factor = 1, .mobile = false});
    for (const derived_view &view : derived_views) {
        SCOPED_TRACE(view.what);
        const int width = view.height * upright_width / upright_height;
        // The upright picture, and its wrong views, at the derived size.
        const std::string reference =
            root.file(std::string("heif-reference-") + view.dir + ".html");
        std::string html =
            "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><style>"
            "body { margin: 0; background: #fff; } img { position: absolute; display: block; "
            "top: 0; width: " +
            std::to_string(width) + "px; height: " + std::to_string(view.height) +
            "px; }</style></head><body>\n";
        const char *styles[] = {"", "transform: scaleX(-1)", "transform: scaleY(-1)",
                                "transform: rotate(180deg)"};
        for (size_t i = 0; i < std::size(styles); ++i)
            html += "<img id=\"v" + std::to_string(i) + "\" src=\"" + file_url(untagged) +
                    "\" style=\"left: " + std::to_string(int(i) * (width + 10)) + "px; " +
                    styles[i] + "\">\n";
        write_file(reference, html + "</body></html>\n");
        page.navigate(file_url(reference));
        page.settle();
        std::vector<decoded_jpeg> references;
        for (size_t i = 0; i < std::size(styles); ++i)
            references.push_back(screen_pixels(page, page.element_rect("#v" + std::to_string(i))));

        for (const heif_case &c : cases) {
            SCOPED_TRACE(c.name);
            const std::string selector = std::string("img[src=\"") + view.dir + "/" + c.name +
                                         ".jpg\"]";
            page.navigate(file_url(album + "/" + view.page(c.name)));
            page.settle();
            const shown_image image = image_in_page(page, selector);
            ASSERT_EQ(image.width, width);
            ASSERT_EQ(image.height, view.height);
            ASSERT_EQ(image.natural_width, width);
            ASSERT_EQ(image.natural_height, view.height);
            const decoded_jpeg shown = screen_pixels(page, page.element_rect(selector));
            EXPECT_LT(mean_difference(shown, references[0]), orientation_tolerance)
                << "not upright";
            for (size_t i = 1; i < references.size(); ++i)
                EXPECT_GT(mean_difference(shown, references[i]), 3 * orientation_tolerance)
                    << "as close to the picture as " << styles[i];
        }
    }
}

// A photograph tagged Display P3 with a saturated green patch: the browser
// shows the scaled image's patch in the colour it shows the original's, and
// the same pixels untagged in another (else the check would prove nothing).
TEST(browser_images, a_colour_profile_keeps_the_colours)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    constexpr int width = 320;
    constexpr int height = 240;
    // Grey around a central patch of half the width and height; in sRGB
    // the patch is about (0, 204, 12), untagged it would be (40, 200, 60).
    std::vector<uint8_t> pixels(size_t{width} * height * 3, 128);
    for (int y = height / 4; y < height * 3 / 4; ++y) {
        for (int x = width / 4; x < width * 3 / 4; ++x) {
            uint8_t *p = pixels.data() + (size_t(y) * width + size_t(x)) * 3;
            p[0] = 40;
            p[1] = 200;
            p[2] = 60;
        }
    }
    temp_dir root;
    const std::string gallery = root.file("gallery");
    const std::string album = gallery + "/colours";
    make_dir(gallery);
    make_dir(album);
    write_file(gallery + "/vistrel.css", "body { margin: 8px; }\n");
    const std::string original = album + "/p3.jpg";
    write_jpeg(original, {.width = width,
                          .height = height,
                          .quality = 95,
                          .icc = icc_recipe{.profile = display_p3_profile()},
                          .pixels = pixels});
    const std::string untagged = root.file("untagged.jpg");
    write_jpeg(untagged, {.width = width, .height = height, .quality = 95, .pixels = pixels});
    // Scaled to half the size: resampled, not merely copied.
    const run_result r = run_vistrel({"-H", "120", gallery});
    ASSERT_EQ(r.status, 0) << r.err;

    devtools_browser browser;
    devtools_page page(browser);
    page.set_device({.width = 1280, .height = 900, .scale_factor = 1, .mobile = false});
    // The middle of the patch, a quarter of its width and height.
    const auto patch_middle = [](const css_rect &image) {
        return css_rect{image.x + image.width * 7 / 16, image.y + image.height * 7 / 16,
                        image.width / 8, image.height / 8};
    };
    page.navigate(file_url(album + "/p3.jpg.html"));
    page.settle();
    const std::string selector = "img[src=\".scaled/p3.jpg\"]";
    const shown_image scaled = image_in_page(page, selector);
    ASSERT_EQ(scaled.natural_width, width / 2);
    ASSERT_EQ(scaled.natural_height, height / 2);
    const decoded_jpeg scaled_patch =
        screen_pixels(page, patch_middle(page.element_rect(selector)));

    // The original and the untagged copy as the browser shows them, at the
    // scaled image's size.
    const std::string reference = root.file("reference.html");
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><style>"
        "body { margin: 0; background: #fff; } img { position: absolute; display: block; "
        "width: 160px; height: 120px; top: 0; }</style></head><body>\n";
    html += "<img id=\"original\" src=\"" + file_url(original) + "\" style=\"left: 0\">\n";
    html += "<img id=\"untagged\" src=\"" + file_url(untagged) + "\" style=\"left: 200px\">\n";
    write_file(reference, html + "</body></html>\n");
    page.navigate(file_url(reference));
    page.settle();
    const decoded_jpeg original_patch =
        screen_pixels(page, patch_middle(page.element_rect("#original")));
    const decoded_jpeg untagged_patch =
        screen_pixels(page, patch_middle(page.element_rect("#untagged")));

    const double same = mean_difference(scaled_patch, original_patch);
    const double other = mean_difference(untagged_patch, original_patch);
    EXPECT_LT(same, 3.0) << "the scaled image lost the colours of the original";
    EXPECT_GT(other, 15.0) << "the browser shows the profile's colours as the untagged ones";
    EXPECT_GT(mean_difference(scaled_patch, untagged_patch), 15.0);
    RecordProperty("scaled_to_original", std::to_string(same));
    RecordProperty("untagged_to_original", std::to_string(other));
}

// With -2 every index and image page offers the double-density files; the
// browser must take them at device pixel ratio 2 and the normal ones at 1.
// Names with a blank and with non-ASCII letters must survive the srcset
// attribute, where a blank would end the URL.
TEST(browser_images, high_density_screens_get_the_double_density_files)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    temp_dir root;
    const std::string gallery = root.file("gallery");
    const std::string album = gallery + "/album";
    make_dir(gallery);
    make_dir(album);
    write_file(gallery + "/vistrel.css", "body { margin: 8px; }\n");
    // In the order of the album: byte by byte.
    const std::vector<std::string> names = {"Caf\xc3\xa9 \xc3\x98resund.jpg", "plain.jpg",
                                            "two words.jpg"};
    for (size_t i = 0; i < names.size(); ++i)
        write_jpeg(album + "/" + names[i], {.width = 400, .height = 300, .seed = uint32_t(40 + i)});
    const run_result r = run_vistrel({"-2", gallery});
    ASSERT_EQ(r.status, 0) << r.err;

    // Each page's images, in document order: the directory and name of the
    // file meant for a plain screen.
    struct expected_image {
        std::string dir;
        std::string name;
    };
    std::vector<std::pair<std::string, std::vector<expected_image>>> pages;
    std::vector<expected_image> thumbnails;
    for (const std::string &name : names) thumbnails.push_back({".thumbs", name});
    pages.emplace_back("index.html", thumbnails);
    // The photo itself is offered by width (browser_photo tests it): here
    // only the thumbnails beside it.
    for (size_t i = 0; i < names.size(); ++i) {
        std::vector<expected_image> shown;
        if (i > 0) shown.push_back({".thumbs", names[i - 1]});
        if (i + 1 < names.size()) shown.push_back({".thumbs", names[i + 1]});
        pages.emplace_back(names[i] + ".html", shown);
    }

    devtools_browser browser;
    for (const int ratio : {1, 2}) {
        SCOPED_TRACE("device pixel ratio " + std::to_string(ratio));
        // A fresh context per ratio: nothing cached from the other one.
        devtools_page page(browser);
        page.set_device(
            {.width = 1280, .height = 900, .scale_factor = double(ratio), .mobile = false});
        for (const auto &[page_name, expected] : pages) {
            SCOPED_TRACE(page_name);
            page.navigate(file_url(album + "/" + page_name));
            // The browser scales a 2x candidate's natural size down by 2, so the
            // file's own size is read from a plain copy of it.
            const json_value images = page.evaluate(R"((async () => {
                const found = [];
                for (const i of document.querySelectorAll('img:not(td[colspan] img)')) {
                    const file = new Image();
                    file.src = i.currentSrc;
                    await file.decode().catch(() => {});
                    found.push([decodeURIComponent(new URL(i.currentSrc).pathname), i.complete,
                                i.naturalWidth, i.naturalHeight, +i.getAttribute('width'),
                                +i.getAttribute('height'), file.naturalWidth, file.naturalHeight]);
                }
                return found;
            })())");
            ASSERT_EQ(images.as_array().size(), expected.size()) << images.dump();
            for (size_t i = 0; i < expected.size(); ++i) {
                const std::vector<json_value> &image = images.as_array()[i].as_array();
                const std::string dir = expected[i].dir + (ratio == 2 ? "2x" : "");
                EXPECT_EQ(image.at(0).as_string(), album + "/" + dir + "/" + expected[i].name);
                ASSERT_TRUE(image.at(1).as_bool()) << "not loaded: " << image.at(0).as_string();
                // Shown at the size the markup states, from a file with ratio
                // times its pixels.
                EXPECT_EQ(image.at(2).as_int(), image.at(4).as_int()) << image.at(0).as_string();
                EXPECT_EQ(image.at(3).as_int(), image.at(5).as_int()) << image.at(0).as_string();
                EXPECT_EQ(image.at(6).as_int(), ratio * image.at(4).as_int())
                    << image.at(0).as_string();
                EXPECT_EQ(image.at(7).as_int(), ratio * image.at(5).as_int())
                    << image.at(0).as_string();
            }
        }
    }
}

}  // namespace
