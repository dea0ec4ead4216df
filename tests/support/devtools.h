// A small Chrome DevTools Protocol client for tests: headless Chromium
// started with --remote-debugging-pipe, commands written to its fd 3 and
// responses and events read from its fd 4, each message one JSON text
// ended by a NUL byte.
//
// Every wait has a deadline: a browser that hangs or dies makes the call
// throw std::runtime_error (with the end of the browser's own log) instead
// of hanging the test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "support/json.h"
#include "support/url_text.h"

// The Debian package's launcher; scripts/install-deps installs it.
inline constexpr const char *chromium_path = "/usr/bin/chromium";

// True when the browser can be started at all.
bool chromium_installed();

struct browser_options {
    std::string executable = chromium_path;
    // Bound on any one command or wait.
    std::chrono::milliseconds timeout = std::chrono::seconds(30);
    // file:// pages may read other file:// URLs (frames, fetch, canvas).
    bool allow_file_access = true;
    std::vector<std::string> extra_flags;
};

class devtools_browser {
public:
    explicit devtools_browser(const browser_options &options = {});
    // Kills the browser's whole process group and removes its profile.
    ~devtools_browser();
    devtools_browser(const devtools_browser &) = delete;
    devtools_browser &operator=(const devtools_browser &) = delete;

    // Sends a command (params a JSON object text) to the browser, or to the
    // attached session when session is not empty, and returns its result;
    // a protocol error throws.
    json_value call(const std::string &method, const std::string &params = "{}",
                    const std::string &session = "");

    // The first event of that method for that session ("" for the browser)
    // whose params satisfy match, kept or yet to come; it is consumed.
    template <typename Match>
    json_value wait_event(const std::string &method, const std::string &session, Match match);

    // Forgets the kept events of that method for that session.
    void drop_events(const std::string &method, const std::string &session);

    std::chrono::milliseconds timeout() const { return timeout_; }

    // False once a wait timed out or the browser went away: then nothing
    // more is asked of it.
    bool healthy() const { return healthy_; }

    // The end of the browser's standard error, for failure messages.
    std::string log_tail() const;

private:
    void send(const std::string &message, std::chrono::steady_clock::time_point deadline);
    // Reads one more message; throws at the deadline or when the browser is gone.
    json_value receive(std::chrono::steady_clock::time_point deadline);
    void keep(std::string method, std::string session, json_value params);
    [[noreturn]] void fail(const std::string &what);
    void stop();

    std::chrono::milliseconds timeout_;
    std::string profile_dir_;
    std::string log_path_;
    pid_t pid_ = -1;
    int to_browser_ = -1;
    int from_browser_ = -1;
    std::string inbox_;   // bytes read, not yet a whole message
    size_t scanned_ = 0;  // inbox_ holds no NUL before this
    long next_id_ = 1;
    bool healthy_ = true;
    struct event {
        std::string method;
        std::string session;
        json_value params;
    };
    std::deque<event> events_;
};

// A rectangle in CSS pixels of the page (document coordinates).
struct css_rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

struct device_metrics {
    int width = 1280;
    int height = 900;
    double scale_factor = 1;
    bool mobile = false;
};

struct screenshot_request {
    enum class image_format { png, jpeg };
    image_format format = image_format::png;
    int quality = 100;  // jpeg only
    // Only this part of the page; none means the viewport, or the whole
    // page with full_page (at the zoom it is shown at).
    bool clip_set = false;
    css_rect clip;
    bool full_page = false;
};

// One tab in a browser context of its own (no cache or storage shared with
// other pages), attached with a flattened session.
class devtools_page {
public:
    explicit devtools_page(devtools_browser &browser);
    ~devtools_page();
    devtools_page(const devtools_page &) = delete;
    devtools_page &operator=(const devtools_page &) = delete;

    // Viewport size, device pixel ratio and mobile emulation; applies to
    // the next navigation.
    void set_device(const device_metrics &metrics);
    // prefers-color-scheme: "light" or "dark".
    void set_color_scheme(const std::string &scheme);

    // Navigates and waits for the page's load event (images included);
    // throws when the navigation fails.
    void navigate(const std::string &url);

    // The value of a JavaScript expression, promises awaited; objects and
    // arrays come back as JSON. A thrown exception throws.
    json_value evaluate(const std::string &expression);
    // Waits until web fonts are ready and every image is decoded, so that
    // a screenshot shows the page as it ends up.
    void settle();
    // Images with loading="lazy" neither delay the load event nor load
    // before they come near the viewport: scrolls each into view and waits
    // until it has loaded or failed, then scrolls back to the top.
    void load_lazy_images();
    std::string evaluate_string(const std::string &expression);
    double evaluate_number(const std::string &expression);

    // The element's border box in document coordinates; throws when no
    // element matches.
    css_rect element_rect(const std::string &selector);

    // The image file's bytes.
    std::string screenshot(const screenshot_request &request);
    void save_screenshot(const std::string &path, const screenshot_request &request);

    const std::string &session() const { return session_; }

private:
    devtools_browser &browser_;
    std::string context_;
    std::string target_;
    std::string session_;
};

// ---- template members ----

template <typename Match>
json_value devtools_browser::wait_event(const std::string &method, const std::string &session,
                                        Match match)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout_;
    for (auto it = events_.begin(); it != events_.end(); ++it) {
        if (it->method == method && it->session == session && match(it->params)) {
            json_value params = std::move(it->params);
            events_.erase(it);
            return params;
        }
    }
    for (;;) {
        json_value message = receive(deadline);
        const json_value *name = message.find("method");
        if (!name) continue;  // a response nobody waits for any more
        const json_value *sid = message.find("sessionId");
        const std::string from = sid ? sid->as_string() : "";
        const json_value *params = message.find("params");
        json_value p = params ? *params : json_value();
        if (name->as_string() == method && from == session && match(p)) return p;
        keep(name->as_string(), from, std::move(p));
    }
}
