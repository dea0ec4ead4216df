// -R in a visitor's browser: from the gallery page down through an album
// of albums to a photo, and back up by the breadcrumbs and Escape, over
// HTTP and from the disk; every page styled and its images shown.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/devtools.h"
#include "support/http_server.h"
#include "support/jpeg_fixture.h"
#include "support/json.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"
#include "support/url_text.h"

namespace {

void wait_for(devtools_page &page, const std::string &expression)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
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

// The page shown is the gallery's `path` (as its bytes), loaded, styled by
// the sample stylesheet (the page's width bounded, its breadcrumbs
// centred), every image shown.
void expect_arrived(devtools_page &page, const std::string &path, bool breadcrumbs)
{
    SCOPED_TRACE(path);
    ASSERT_NO_THROW(wait_for(page, "document.readyState == 'complete' && "
                                   "decodeURIComponent(location.pathname).endsWith('/" +
                                       path + "')"));
    page.load_lazy_images();
    EXPECT_TRUE(page.evaluate("[...document.images].every(i => i.complete && i.naturalWidth > 0)")
                    .as_bool());
    EXPECT_NE(page.evaluate_string("getComputedStyle(document.body).maxWidth"), "none");
    if (breadcrumbs) {
        EXPECT_EQ(page.evaluate_string(
                      "getComputedStyle(document.querySelector('p.breadcrumbs')).textAlign"),
                  "center");
    }
}

// Follows the link that `selector` finds, as a click would.
void follow(devtools_page &page, const std::string &selector)
{
    page.evaluate("document.querySelector(" + json_quote(selector) + ").click(), 0");
}

void press_escape(devtools_browser &browser, devtools_page &page)
{
    for (const char *type : {"keyDown", "keyUp"})
        browser.call("Input.dispatchKeyEvent",
                     std::string("{\"type\":\"") + type +
                         R"(","key":"Escape","code":"Escape","windowsVirtualKeyCode":27})",
                     page.session());
}

TEST(browser_tree, down_the_albums_to_a_photo_and_back_up_over_http_and_from_disk)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    temp_dir root;
    const std::string g = root.file("gallery");
    for (const char *dir : {"", "/2024", "/2024/Lisbon trip", "/2024/Lisbon trip/Day 1 #1"})
        make_dir(g + dir);
    write_jpeg(g + "/2024/x.jpg", {.width = 320, .height = 240, .seed = 1});
    write_jpeg(g + "/2024/Lisbon trip/Day 1 #1/a.jpg", {.width = 240, .height = 320, .seed = 2});
    write_jpeg(g + "/2024/Lisbon trip/Day 1 #1/b.jpg", {.width = 320, .height = 240, .seed = 3});
    write_file(g + "/vistrel.css", read_file(VISTREL_STYLESHEET));
    const run_result r = run_vistrel({"-R", "-N", "-C", "-a", g});
    ASSERT_EQ(r.status, 0) << r.err;

    devtools_browser browser;
    for (const bool served : {true, false}) {
        SCOPED_TRACE(served ? "over HTTP" : "from file://");
        std::optional<http_server> server;
        if (served) server.emplace(g);
        const std::string start = served ? server->origin() + "/index.html"
                                         : file_url(g + "/index.html");
        devtools_page page(browser);
        page.navigate(start);
        expect_arrived(page, "index.html", false);
        follow(page, "a[href='2024/index.html']");
        expect_arrived(page, "2024/index.html", true);
        // Lisbon trip has no photo: its card shows the first one below it.
        EXPECT_TRUE(page.evaluate("document.querySelector('img.albumcover').currentSrc"
                                  ".includes('/Day%201%20%231/')")
                        .as_bool());
        follow(page, "li.albumitem a");
        expect_arrived(page, "2024/Lisbon trip/index.html", true);
        follow(page, "li.albumitem a");
        expect_arrived(page, "2024/Lisbon trip/Day 1 #1/index.html", true);
        follow(page, "a[href='a.jpg.html']");
        expect_arrived(page, "2024/Lisbon trip/Day 1 #1/a.jpg.html", true);
        EXPECT_EQ(page.evaluate_string("document.title"), "Day 1 #1: a.jpg");
        // Up by the breadcrumbs: the second step is 2024.
        follow(page, "p.breadcrumbs a:nth-of-type(2)");
        expect_arrived(page, "2024/index.html", true);
        // And from an album up to the page that lists it, by Escape.
        press_escape(browser, page);
        expect_arrived(page, "index.html", false);
        if (server) {
            std::set<std::string> missing = server->missing();
            missing.erase("/favicon.ico");  // asked for by the browser, not the pages
            EXPECT_TRUE(missing.empty()) << *missing.begin();
        }
    }
}

}  // namespace
