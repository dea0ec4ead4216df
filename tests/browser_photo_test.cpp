// The photo on its image page as visitors see it, in headless Chromium
// with the sample stylesheet: as large as the window allows and sharp on
// every screen size and density, its box of its final size before the file
// arrives; -a's keys and swipes, which open the neighbouring pages; and
// every kind of page in standards mode.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/devtools.h"
#include "support/http_server.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

struct screen {
    const char *name;
    device_metrics metrics;
};

// Desktop windows from a laptop's to a large monitor's, a high-density
// laptop, and a phone.
const screen screens[] = {
    {"1280x900 @1", {.width = 1280, .height = 900, .scale_factor = 1}},
    {"1920x1080 @1", {.width = 1920, .height = 1080, .scale_factor = 1}},
    {"2560x1440 @1", {.width = 2560, .height = 1440, .scale_factor = 1}},
    {"1440x900 @2", {.width = 1440, .height = 900, .scale_factor = 2}},
    {"390x844 @3", {.width = 390, .height = 844, .scale_factor = 3, .mobile = true}},
};

// A gallery with the sample stylesheet and one album.
struct styled_album {
    temp_dir root;
    std::string gallery = root.file("gallery");
    std::string dir = gallery + "/album";
    styled_album()
    {
        make_dir(gallery);
        make_dir(dir);
        write_file(gallery + "/vistrel.css", read_file(VISTREL_STYLESHEET));
    }
    std::string file(const std::string &name) const { return dir + "/" + name; }
    void run(std::vector<std::string> options) const
    {
        options.push_back(gallery);
        const run_result r = run_vistrel(options);
        ASSERT_EQ(r.status, 0) << r.err;
    }
};

// The photo once loaded: its box, the window, the file chosen and the
// width srcset says it has, the largest offered, the width the browser
// takes from sizes, and where the caption starts.
const char *photo_script = R"((async () => {
  const img = document.querySelector('td[colspan] img');
  await img.decode();
  const box = img.getBoundingClientRect();
  let chosen = 0, largest = 0;
  for (const c of img.getAttribute('srcset').split(', ')) {
    const [url, w] = c.split(' ');
    largest = Math.max(largest, parseInt(w));
    if (new URL(url, document.baseURI).href == img.currentSrc) chosen = parseInt(w);
  }
  const file = new Image();
  file.src = img.currentSrc;
  await file.decode();
  return {width: box.width, height: box.height, window_width: innerWidth,
          window_height: innerHeight, dpr: devicePixelRatio, chosen: chosen,
          file_width: file.naturalWidth, largest: largest, source_size: img.naturalWidth,
          page_width: document.documentElement.scrollWidth,
          scrollbar: innerWidth - document.documentElement.clientWidth,
          caption: document.querySelector('td[colspan] b').getBoundingClientRect().top};
})())";

TEST(browser_photo, fills_the_window_sharp_on_every_screen)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    styled_album a;
    // 12 megapixels each, as a camera takes them.
    write_jpeg(a.file("landscape.jpg"), {.width = 4000, .height = 3000, .seed = 1});
    write_jpeg(a.file("portrait.jpg"), {.width = 3000, .height = 4000, .seed = 2});
    a.run({"-2", "-b"});

    devtools_browser browser;
    for (const screen &device : screens) {
        for (const char *photo : {"landscape", "portrait"}) {
            SCOPED_TRACE(std::string(device.name) + ", " + photo);
            devtools_page page(browser);
            page.set_device(device.metrics);
            page.navigate(file_url(a.file(std::string(photo) + ".jpg.html")));
            const json_value got = page.evaluate(photo_script);
            const double width = got.at("width").as_number();
            const double height = got.at("height").as_number();
            const double window_height = got.at("window_height").as_number();
            const double dpr = got.at("dpr").as_number();
            const double file_width = got.at("file_width").as_number();
            const double share = height / window_height;
            const double sharpness = file_width / (width * dpr);
            std::printf(
                "%-13s %-9s height %3.0f %% of the window, width %3.0f %%, %s file "
                "%4.0f px wide: %.2f file px per device px\n",
                device.name, photo, 100 * share, 100 * width / got.at("window_width").as_number(),
                got.at("chosen").as_int() == got.at("largest").as_int() ? "largest" : "smaller",
                file_width, sharpness);

            // Its own shape, no higher than 85 % of the window, no wider than
            // the page, and never beyond the largest file at one pixel a CSS pixel.
            EXPECT_NEAR(width / height, std::string(photo) == "landscape" ? 4.0 / 3 : 3.0 / 4,
                        0.01);
            EXPECT_LE(height, 0.85 * window_height + 0.5);
            EXPECT_LE(got.at("page_width").as_number(), got.at("window_width").as_number());
            EXPECT_LE(width, got.at("largest").as_number() + 0.5);
            // Sharp: the file chosen has a pixel for every device pixel, near enough.
            EXPECT_EQ(got.at("chosen").as_int(), int64_t(file_width)) << "srcset lies about it";
            EXPECT_GE(sharpness, 0.9);
            // The browser chose from sizes: it must be the width the stylesheet gives.
            const double source_size = got.at("source_size").as_number();
            EXPECT_GE(source_size + 1, width);
            EXPECT_LE(source_size, width + 1 + got.at("scrollbar").as_number());
            // The caption begins on the first screen, the rest below it.
            EXPECT_LT(got.at("caption").as_number(), window_height);
            if (device.metrics.mobile) {
                // A phone reads as before: the photo as wide as the page, but a
                // portrait no higher than the window.
                if (std::string(photo) == "landscape") {
                    EXPECT_NEAR(width, 390 - 24, 1);
                }
            } else if (std::string(photo) == "landscape") {
                EXPECT_GE(share, 0.6);
            }
        }
    }
}

// The layout of the image page: the photo, the caption, the neighbours,
// the footer.
const char *layout_script = R"((() => ['td[colspan] img', 'td[colspan] b', 'td[valign] img', 'hr']
  .map(s => { const r = document.querySelector(s).getBoundingClientRect();
              return [r.x, r.y, r.width, r.height]; }))())";

// Polls the page until the expression is true, or throws at the deadline.
void wait_until(devtools_page &page, const std::string &expression,
                std::chrono::seconds timeout = std::chrono::seconds(20))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        try {
            if (page.evaluate("!!(" + expression + ")").as_bool()) return;
        } catch (const std::runtime_error &) {
            // between two documents: ask again
        }
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("timed out waiting for " + expression);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

TEST(browser_photo, its_box_has_its_final_size_before_the_file_arrives)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    styled_album a;
    write_jpeg(a.file("a.jpg"), {.width = 1600, .height = 1200, .seed = 1});
    write_jpeg(a.file("b.jpg"), {.width = 1200, .height = 1600, .seed = 2});
    a.run({"-2", "-b"});
    http_server server(a.gallery);

    devtools_browser browser;
    for (const screen &device : {screens[0], screens[4]}) {
        SCOPED_TRACE(device.name);
        devtools_page page(browser);
        page.set_device(device.metrics);
        // Every request for the photo waits until it is let go.
        browser.call("Fetch.enable",
                     R"({"patterns":[{"urlPattern":"*/.scaled*"},{"urlPattern":"*/.big/*"}]})",
                     page.session());
        browser.call("Page.navigate", "{\"url\":\"" + server.origin() + "/album/a.jpg.html\"}",
                     page.session());
        const json_value paused = browser.wait_event("Fetch.requestPaused", page.session(),
                                                     [](const json_value &) { return true; });
        wait_until(page, "document.readyState != 'loading' && document.styleSheets.length == 1 "
                         "&& document.querySelector('td[valign] img').complete");
        page.evaluate("window.shifts = 0; new PerformanceObserver(list => { for (const e of "
                      "list.getEntries()) shifts += e.value; }).observe({type: 'layout-shift', "
                      "buffered: true}); 0");
        const json_value before = page.evaluate(layout_script);
        EXPECT_FALSE(page.evaluate("document.querySelector('td[colspan] img').complete").as_bool())
            << "the photo came through";
        EXPECT_GT(before.as_array().at(0).as_array().at(2).as_number(), 100) << "no box yet";

        browser.call("Fetch.continueRequest",
                     "{\"requestId\":\"" + paused.at("requestId").as_string() + "\"}",
                     page.session());
        wait_until(page, "document.querySelector('td[colspan] img').complete && "
                         "document.querySelector('td[colspan] img').naturalWidth > 0");
        page.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))");
        const json_value after = page.evaluate(layout_script);
        for (size_t i = 0; i < before.as_array().size(); ++i)
            for (size_t k = 0; k < 4; ++k)
                EXPECT_NEAR(after.as_array().at(i).as_array().at(k).as_number(),
                            before.as_array().at(i).as_array().at(k).as_number(), 0.01)
                    << "element " << i << ", value " << k;
        EXPECT_EQ(page.evaluate("shifts").as_number(), 0);
    }
}

// Every kind of page in standards mode, in English, and no wider than the
// window, on a desktop and a phone.
TEST(browser_pages, every_kind_of_page_in_standards_mode_and_english)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    styled_album a;
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        write_jpeg(a.file(name), {.width = 400, .height = 300});
    a.run({"-2", "-b", "-a", "-n", "-C", "-c", "2", "-r", "1"});

    devtools_browser browser;
    for (const screen &device : {screens[0], screens[4]}) {
        for (const std::string &page_path : {a.gallery + "/index.html", a.file("index.html"),
                                             a.file("index2.html"), a.file("b.jpg.html")}) {
            SCOPED_TRACE(std::string(device.name) + ", " + page_path);
            devtools_page page(browser);
            page.set_device(device.metrics);
            page.navigate(file_url(page_path));
            EXPECT_EQ(page.evaluate_string("document.compatMode"), "CSS1Compat");
            EXPECT_EQ(page.evaluate_string("document.documentElement.lang"), "en");
            EXPECT_LE(page.evaluate_number("document.documentElement.scrollWidth"),
                      page.evaluate_number("innerWidth"));
        }
    }
}

// Whether a page carries a script at all.
bool has_script(const std::string &path)
{
    return read_file(path).find("<script") != std::string::npos;
}

// Presses a key, as the keyboard would.
void press(devtools_browser &browser, devtools_page &page, const std::string &key, int code)
{
    for (const char *type : {"keyDown", "keyUp"})
        browser.call("Input.dispatchKeyEvent",
                     std::string("{\"type\":\"") + type + "\",\"key\":\"" + key + "\",\"code\":\"" +
                         key + "\",\"windowsVirtualKeyCode\":" + std::to_string(code) + "}",
                     page.session());
}

// A finger drawn sideways across the screen, from x to x + dx.
void swipe(devtools_browser &browser, devtools_page &page, int x, int dx)
{
    const auto point = [](int px) { return "[{\"x\":" + std::to_string(px) + ",\"y\":400}]"; };
    browser.call("Input.dispatchTouchEvent",
                 "{\"type\":\"touchStart\",\"touchPoints\":" + point(x) + "}", page.session());
    for (int step = 1; step <= 4; ++step)
        browser.call("Input.dispatchTouchEvent",
                     "{\"type\":\"touchMove\",\"touchPoints\":" + point(x + dx * step / 4) + "}",
                     page.session());
    browser.call("Input.dispatchTouchEvent", R"({"type":"touchEnd","touchPoints":[]})",
                 page.session());
}

TEST(browser_keys, keys_and_swipes_open_the_neighbouring_pages)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    styled_album a;
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
        write_jpeg(a.file(name), {.width = 64, .height = 48});
    // Two images to an index page: a and b on index.html, c and d on index2.html.
    a.run({"-c", "2", "-r", "1"});
    // Without -a, no page has a script.
    for (const char *page : {"index.html", "index2.html", "a.jpg.html", "b.jpg.html", "c.jpg.html"})
        EXPECT_FALSE(has_script(a.file(page))) << page;
    EXPECT_FALSE(has_script(a.gallery + "/index.html"));
    EXPECT_EQ(read_file(a.file("b.jpg.html")).find("rel=\"next\""), std::string::npos);
    // All four on one index page: nothing to turn to there.
    a.run({"-a", "-c", "4", "-r", "1"});
    EXPECT_FALSE(has_script(a.file("index.html")));
    EXPECT_TRUE(has_script(a.file("a.jpg.html")));
    a.run({"-a", "-c", "2", "-r", "1"});
    EXPECT_FALSE(has_script(a.gallery + "/index.html"));
    EXPECT_TRUE(has_script(a.file("index.html")));

    const struct {
        const char *from;
        bool swiped;
        const char *key;  // or the swipe's direction: "left" leads on
        int code;
        const char *to;
    } cases[] = {
        {"b.jpg.html", false, "ArrowLeft", 37, "a.jpg.html"},
        {"b.jpg.html", false, "ArrowRight", 39, "c.jpg.html"},
        {"b.jpg.html", false, "PageUp", 33, "a.jpg.html"},
        {"c.jpg.html", false, "PageDown", 34, "d.jpg.html"},
        {"b.jpg.html", false, "Escape", 27, "index.html"},
        {"c.jpg.html", false, "Escape", 27, "index2.html"},
        {"b.jpg.html", true, "left", 0, "c.jpg.html"},
        {"c.jpg.html", true, "right", 0, "b.jpg.html"},
        {"index.html", false, "ArrowRight", 39, "index2.html"},
        {"index2.html", false, "ArrowLeft", 37, "index.html"},
    };
    devtools_browser browser;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.from) + ", " + c.key);
        devtools_page page(browser);
        page.set_device(screens[4].metrics);
        page.navigate(file_url(a.file(c.from)));
        // Touches go to the page only once a frame has told the compositor
        // where its listeners are.
        page.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))");
        const std::string arrived = "location.href == '" + file_url(a.file(c.to)) + "'";
        if (!c.swiped) {
            press(browser, page, c.key, c.code);
        } else {
            const bool left = std::string(c.key) == "left";
            swipe(browser, page, left ? 300 : 90, left ? -200 : 200);
            // On a busy machine the compositor may yet miss a first gesture:
            // a second one is what a visitor would make too.
            try {
                wait_until(page, arrived, std::chrono::seconds(5));
                continue;
            } catch (const std::runtime_error &) {
                swipe(browser, page, left ? 300 : 90, left ? -200 : 200);
            }
        }
        EXPECT_NO_THROW(wait_until(page, arrived));
    }
}

}  // namespace
