// The pages with the sample stylesheet, in headless Chromium at the sizes
// visitors use: a desktop window at device pixel ratios 1 and 2, and a
// phone at 3. Album covers must be sharp without fetching more than they
// need, the covers' sizes attribute must state the width the stylesheet
// gives them, and thumbnails of every shape must keep their size and stand
// on one line with their labels.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "support/devtools.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

struct screen {
    const char *name;
    device_metrics metrics;
};

const screen desktop{"desktop 1x",
                     {.width = 1280, .height = 900, .scale_factor = 1, .mobile = false}};
const screen desktop_2x{"desktop 2x",
                        {.width = 1280, .height = 900, .scale_factor = 2, .mobile = false}};
const screen phone{"phone 3x", {.width = 390, .height = 844, .scale_factor = 3, .mobile = true}};

// A gallery with the sample stylesheet.
std::string styled_gallery(const temp_dir &root)
{
    const std::string gallery = root.file("gallery");
    make_dir(gallery);
    write_file(gallery + "/vistrel.css", read_file(VISTREL_STYLESHEET));
    return gallery;
}

// The shapes a first image comes in: each gives a cover of other widths.
struct shape {
    const char *name;
    int width;
    int height;
};

const shape shapes[] = {
    {"landscape", 400, 300}, {"wide", 640, 360},     {"portrait", 300, 400},
    {"square", 300, 300},    {"panorama", 900, 300},
};

// Every cover, once loaded: the file chosen, its real width, the width the
// browser takes it for (the width of sizes), the width shown, and the
// candidates offered.
const char *covers_script = R"((async () => {
  const found = [];
  for (const img of document.querySelectorAll('img.albumcover')) {
    const file = new Image();
    file.src = img.currentSrc;
    await file.decode().catch(() => {});
    const offered = img.getAttribute('srcset').split(', ').map(c => {
      const [url, w] = c.split(' ');
      return [new URL(url, document.baseURI).href, parseInt(w)];
    });
    found.push({current: img.currentSrc, file_width: file.naturalWidth, source_size: img.naturalWidth,
                shown: img.getBoundingClientRect().width, offered: offered});
  }
  return {covers: found, dpr: window.devicePixelRatio,
          scrollbar: window.innerWidth - document.documentElement.clientWidth};
})())";

TEST(browser_style, covers_are_sharp_at_every_size_and_density_and_no_larger_than_needed)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    temp_dir root;
    const std::string gallery = styled_gallery(root);
    for (const shape &s : shapes) {
        make_dir(gallery + "/" + s.name);
        write_jpeg(gallery + "/" + s.name + "/a.jpg", {.width = s.width, .height = s.height});
        write_jpeg(gallery + "/" + s.name + "/b.jpg", {.width = 40, .height = 30});
    }

    devtools_browser browser;
    for (const bool doubled : {false, true}) {
        SCOPED_TRACE(doubled ? "-C -2" : "-C");
        std::vector<std::string> args = {"-C"};
        if (doubled) args.push_back("-2");
        args.push_back(gallery);
        const run_result r = run_vistrel(args);
        ASSERT_EQ(r.status, 0) << r.err;

        // A 640-pixel window is the widest laid out as a phone, a 641-pixel
        // one the narrowest as a desktop.
        const screen narrowest_desktop{"desktop 641",
                                       {.width = 641, .height = 900, .scale_factor = 1}};
        const screen widest_phone{"window 640", {.width = 640, .height = 900, .scale_factor = 1}};
        for (const screen &device : {desktop, desktop_2x, phone, narrowest_desktop, widest_phone}) {
            SCOPED_TRACE(device.name);
            // A fresh context each time: nothing cached from another density.
            devtools_page page(browser);
            page.set_device(device.metrics);
            page.navigate(file_url(gallery + "/index.html"));
            page.load_lazy_images();
            const json_value found = page.evaluate(covers_script);
            const double dpr = found.at("dpr").as_number();
            const double scrollbar = found.at("scrollbar").as_number();
            ASSERT_EQ(found.at("covers").as_array().size(), std::size(shapes));
            for (const json_value &cover : found.at("covers").as_array()) {
                const std::string current = cover.at("current").as_string();
                SCOPED_TRACE(current);
                const double shown = cover.at("shown").as_number();
                const int file_width = int(cover.at("file_width").as_int());
                ASSERT_GT(file_width, 0) << "not loaded";
                int largest = 0;
                int stated = 0;
                for (const json_value &offer : cover.at("offered").as_array()) {
                    const int w = int(offer.as_array().at(1).as_int());
                    largest = std::max(largest, w);
                    if (offer.as_array().at(0).as_string() == current) stated = w;
                }
                EXPECT_EQ(stated, file_width)
                    << "not a candidate, or one of another width than it says";
                EXPECT_TRUE(file_width >= shown * dpr || file_width == largest)
                    << file_width << " pixels shown over " << shown << " CSS pixels at " << dpr;
                // No larger than needed: every narrower file offered would be soft.
                for (const json_value &offer : cover.at("offered").as_array()) {
                    const int w = int(offer.as_array().at(1).as_int());
                    if (w < file_width) {
                        EXPECT_LT(w, shown * dpr) << "more than the screen needs";
                    }
                }
                // The browser takes the file for the width that sizes states:
                // the stylesheet must show the cover at that width (less the
                // card's border, and a scroll bar sizes cannot know of).
                const double source_size = cover.at("source_size").as_number();
                EXPECT_GE(source_size + 1, shown);
                EXPECT_LE(source_size, shown + 3 + scrollbar);
            }
        }
    }
}

// One row of thumbnails of every shape, with the size label under each.
const char *thumbnails_script = R"((() => Array.from(document.querySelectorAll('td'), td => {
  const img = td.querySelector('img').getBoundingClientRect();
  const label = td.querySelector('small').getBoundingClientRect();
  return [img.width, img.height, img.bottom, label.top, td.getBoundingClientRect().width,
          +td.querySelector('img').getAttribute('width')];
}))())";

TEST(browser_style, thumbnails_keep_their_size_and_stand_on_one_line_with_their_labels)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    temp_dir root;
    const std::string gallery = styled_gallery(root);
    const std::string album = gallery + "/album";
    make_dir(album);
    // In name order: 128, 171, 72, 96 and 288 pixels wide, all 96 high.
    for (size_t i = 0; i < std::size(shapes); ++i)
        write_jpeg(album + "/" + std::to_string(i) + "-" + shapes[i].name + ".jpg",
                   {.width = shapes[i].width, .height = shapes[i].height, .seed = uint32_t(i)});
    const run_result r = run_vistrel({gallery});
    ASSERT_EQ(r.status, 0) << r.err;

    devtools_browser browser;
    for (const screen &device : {desktop, phone}) {
        SCOPED_TRACE(device.name);
        devtools_page page(browser);
        page.set_device(device.metrics);
        page.navigate(file_url(album + "/index.html"));
        page.settle();
        const json_value cells = page.evaluate(thumbnails_script);
        ASSERT_EQ(cells.as_array().size(), std::size(shapes));
        // Cells side by side form a row: on the desktop all five, on the
        // phone two or three to a line.
        double row_bottom = -1;
        double row_label = -1;
        double previous_bottom = -1;
        for (const json_value &cell : cells.as_array()) {
            const std::vector<json_value> &c = cell.as_array();
            const double width = c.at(0).as_number();
            const double height = c.at(1).as_number();
            const double bottom = c.at(2).as_number();
            const double label = c.at(3).as_number();
            const double cell_width = c.at(4).as_number();
            const int stated = int(c.at(5).as_int());
            SCOPED_TRACE("thumbnail " + std::to_string(stated) + " wide");
            // At its own size wherever its cell can hold it; shrunk, only on
            // a narrow screen, to the cell, keeping its shape.
            if (device.metrics.width == 1280 || stated <= cell_width) {
                EXPECT_NEAR(width, stated, 0.5);
                EXPECT_NEAR(height, 96, 0.5);
            } else {
                EXPECT_LE(width, cell_width + 0.5);
                EXPECT_NEAR(width / height, stated / 96.0, 0.05);
            }
            if (bottom > previous_bottom + 50 || previous_bottom < 0) {  // a new row begins
                row_bottom = bottom;
                row_label = label;
            }
            EXPECT_NEAR(bottom, row_bottom, 0.5) << "not on the row's line";
            EXPECT_NEAR(label, row_label, 0.5) << "the label is out of line";
            EXPECT_GE(label, bottom) << "the label overlaps the thumbnail";
            previous_bottom = bottom;
        }
    }
}

}  // namespace
