// Videos' pages (-V) in headless Chromium, served over HTTP as a visitor
// meets them: the H.264 MP4 and VP9 WebM originals play from the page
// (play() resolves and the time goes on), the poster is the derived file,
// and the video's box has the photo's shape before anything loads.
#include <gtest/gtest.h>

#include <string>

#include "support/devtools.h"
#include "support/http_server.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"
#include "support/video_fixture.h"

namespace {

// Plays the page's video muted (headless Chromium lets a muted video
// start without a gesture) and waits, a bounded number of times, until
// its time has moved on: what it played, as JSON.
const char play_script[] = R"((async () => {
  const v = document.querySelector('video');
  v.muted = true;
  let played = 'resolved';
  try { await v.play(); } catch (e) { played = String(e); }
  for (let i = 0; i < 100 && v.currentTime <= 0.1 && !v.error; ++i)
    await new Promise(r => setTimeout(r, 50));
  const box = v.getBoundingClientRect();
  return JSON.stringify({played, time: v.currentTime, src: v.currentSrc, poster: v.poster,
                         error: v.error ? v.error.code : 0, width: v.videoWidth,
                         height: v.videoHeight, ratio: box.width / box.height});
})())";

TEST(browser_video, h264_and_vp9_originals_play_over_http)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    temp_dir root;
    const std::string gallery = root.file("g");
    make_dir(gallery);
    make_dir(gallery + "/a");
    write_video(gallery + "/a/clip one.mp4",
                {.width = 320, .height = 240, .seconds = 3, .audio = true});
    write_video(
        gallery + "/a/clip.webm",
        {.format = video_recipe::codec::vp9_webm, .width = 320, .height = 240, .seconds = 3});
    const run_result r = run_vistrel({"-V", gallery});
    ASSERT_EQ(r.status, 0) << r.err;

    http_server server(root.path);
    devtools_browser browser;
    devtools_page tab(browser);
    for (const std::string name : {"clip one.mp4", "clip.webm"}) {
        SCOPED_TRACE(name);
        tab.navigate(server.origin() + "/g/a/" + name + ".html");
        const std::string report = tab.evaluate_string(play_script);
        EXPECT_NE(report.find("\"played\":\"resolved\""), std::string::npos) << report;
        EXPECT_NE(report.find("\"error\":0"), std::string::npos) << report;
        EXPECT_NE(report.find("\"width\":320,\"height\":240"), std::string::npos) << report;
        EXPECT_GT(tab.evaluate_number("document.querySelector('video').currentTime"), 0.1)
            << report;
        const std::string encoded = name == "clip.webm" ? name : "clip%20one.mp4";
        EXPECT_NE(report.find("\"src\":\"" + server.origin() + "/g/a/" + encoded + "\""),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find("\"poster\":\"" + server.origin() + "/g/a/.scaled/" + encoded +
                              ".jpg\""),
                  std::string::npos)
            << report;
        // 4:3, as the poster file is.
        const double ratio = tab.evaluate_number(
            "(b => b.width / b.height)(document.querySelector('video').getBoundingClientRect())");
        EXPECT_NEAR(ratio, 4.0 / 3.0, 0.02) << report;
    }
    for (const std::string &missing : server.missing())
        EXPECT_EQ(missing, "/favicon.ico") << "asked for and missing";
}

}  // namespace
