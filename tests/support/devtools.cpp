#include "support/devtools.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace {

using clock_type = std::chrono::steady_clock;

// Kept events beyond this many are dropped, oldest first: lifecycle events
// of pages nobody waits for must not pile up without end.
constexpr size_t max_kept_events = 2000;

// The pipe ends the browser reads and writes.
constexpr int browser_in_fd = 3;
constexpr int browser_out_fd = 4;

int remaining_ms(clock_type::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
}

// A descriptor of ours, close-on-exec and above the ones the browser gets,
// so that the dup2 onto 3 and 4 in the child never lands on itself.
int high_fd(int fd)
{
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    if (moved < 0) throw std::runtime_error("devtools: fcntl(F_DUPFD_CLOEXEC) failed");
    return moved;
}

std::string make_temp_dir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vistrel-browser-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("devtools: mkdtemp failed");
    return buffer.data();
}

std::string base64_decode(const std::string &text)
{
    static const auto table = [] {
        std::array<int, 256> t;
        t.fill(-1);
        const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(alphabet[i])] = i;
        return t;
    }();
    std::string out;
    out.reserve(text.size() / 4 * 3);
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=') break;
        const int value = table[static_cast<unsigned char>(c)];
        if (value < 0) throw std::runtime_error("devtools: bad base64 data");
        bits = (bits << 6) | static_cast<uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

std::string number_text(double n)
{
    std::ostringstream out;
    out.precision(17);
    out << n;
    return out.str();
}

std::string params_of(const css_rect &r, double scale = 1)
{
    return "{\"x\":" + number_text(r.x) + ",\"y\":" + number_text(r.y) +
           ",\"width\":" + number_text(r.width) + ",\"height\":" + number_text(r.height) +
           ",\"scale\":" + number_text(scale) + "}";
}

}  // namespace

bool chromium_installed() { return access(chromium_path, X_OK) == 0; }

devtools_browser::devtools_browser(const browser_options &options) : timeout_(options.timeout)
{
    profile_dir_ = make_temp_dir();
    log_path_ = profile_dir_ + "/browser.log";
    try {
        std::vector<std::string> args = {
            options.executable,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--no-default-browser-check",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--disable-extensions",
            // Pixels as the files hold them, whatever the machine's display.
            "--force-color-profile=srgb",
            "--user-data-dir=" + profile_dir_ + "/profile",
            "--remote-debugging-pipe",
        };
        if (options.allow_file_access) args.push_back("--allow-file-access-from-files");
        args.insert(args.end(), options.extra_flags.begin(), options.extra_flags.end());
        args.push_back("about:blank");

        int in_pipe[2];
        int out_pipe[2];
        if (pipe2(in_pipe, O_CLOEXEC) != 0) throw std::runtime_error("devtools: pipe failed");
        const int in_read = high_fd(in_pipe[0]);
        to_browser_ = high_fd(in_pipe[1]);
        if (pipe2(out_pipe, O_CLOEXEC) != 0) {
            close(in_read);
            throw std::runtime_error("devtools: pipe failed");
        }
        from_browser_ = high_fd(out_pipe[0]);
        const int out_write = high_fd(out_pipe[1]);
        fcntl(to_browser_, F_SETFL, fcntl(to_browser_, F_GETFL) | O_NONBLOCK);
        fcntl(from_browser_, F_SETFL, fcntl(from_browser_, F_GETFL) | O_NONBLOCK);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, log_path_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
        posix_spawn_file_actions_adddup2(&actions, in_read, browser_in_fd);
        posix_spawn_file_actions_adddup2(&actions, out_write, browser_out_fd);

        // A process group of its own, so that its helpers go with it; and
        // signals as a fresh program expects them, whatever the test set.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                  POSIX_SPAWN_SETSIGDEF);

        std::vector<char *> argv;
        for (std::string &arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int rc =
            posix_spawn(&pid_, args[0].c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        close(in_read);
        close(out_write);
        if (rc != 0) {
            pid_ = -1;
            throw std::runtime_error("devtools: cannot start " + args[0] + ": " +
                                     std::strerror(rc));
        }

        // The first answer shows the pipe works.
        call("Browser.getVersion");
    } catch (...) {
        stop();
        throw;
    }
}

devtools_browser::~devtools_browser() { stop(); }

void devtools_browser::stop()
{
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    if (to_browser_ >= 0) close(to_browser_);
    if (from_browser_ >= 0) close(from_browser_);
    to_browser_ = from_browser_ = -1;
    if (!profile_dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(profile_dir_, ignored);
        profile_dir_.clear();
    }
}

std::string devtools_browser::log_tail() const
{
    std::ifstream in(log_path_, std::ios::binary);
    if (!in) return "";
    std::ostringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    constexpr size_t keep = 3000;
    return all.size() > keep ? "..." + all.substr(all.size() - keep) : all;
}

void devtools_browser::fail(const std::string &what)
{
    healthy_ = false;
    throw std::runtime_error("devtools: " + what + "\nbrowser log:\n" + log_tail());
}

void devtools_browser::send(const std::string &message, clock_type::time_point deadline)
{
    if (!healthy_) throw std::runtime_error("devtools: the browser failed before");
    std::string data = message;
    data += '\0';

    // A browser gone away must fail the call, not end the test process with
    // SIGPIPE: the signal is blocked during the write and a pending one
    // taken back.
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigset_t old_mask;
    pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);
    sigset_t pending;
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE) == 1;

    size_t done = 0;
    std::string error;
    while (done < data.size() && error.empty()) {
        pollfd p{to_browser_, POLLOUT, 0};
        const int ready = poll(&p, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            error = "the browser does not read its commands";
            break;
        }
        const ssize_t n = write(to_browser_, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            error = std::string("writing a command failed: ") + std::strerror(errno);
        }
    }
    if (!was_pending) {
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            const timespec zero{0, 0};
            sigtimedwait(&pipe_only, nullptr, &zero);
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    if (!error.empty()) fail(error);
}

json_value devtools_browser::receive(clock_type::time_point deadline)
{
    if (!healthy_) throw std::runtime_error("devtools: the browser failed before");
    for (;;) {
        const size_t end = inbox_.find('\0', scanned_);
        if (end != std::string::npos) {
            json_value message;
            try {
                message = json_value::parse(std::string_view(inbox_.data(), end));
            } catch (const std::exception &e) {
                fail(std::string("unreadable message: ") + e.what() + ": " + inbox_.substr(0, 200));
            }
            inbox_.erase(0, end + 1);
            scanned_ = 0;
            return message;
        }
        scanned_ = inbox_.size();

        pollfd p{from_browser_, POLLIN, 0};
        const int ready = poll(&p, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) fail("no answer within " + std::to_string(timeout_.count()) + " ms");
        char buffer[1 << 16];
        const ssize_t n = read(from_browser_, buffer, sizeof buffer);
        if (n > 0) {
            inbox_.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            fail("the browser closed its end of the pipe");
        } else if (errno != EAGAIN && errno != EINTR) {
            fail(std::string("reading failed: ") + std::strerror(errno));
        }
    }
}

void devtools_browser::keep(std::string method, std::string session, json_value params)
{
    events_.push_back({std::move(method), std::move(session), std::move(params)});
    if (events_.size() > max_kept_events) events_.pop_front();
}

void devtools_browser::drop_events(const std::string &method, const std::string &session)
{
    std::erase_if(events_,
                  [&](const event &e) { return e.method == method && e.session == session; });
}

json_value devtools_browser::call(const std::string &method, const std::string &params,
                                  const std::string &session)
{
    const long id = next_id_++;
    std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + json_quote(method) +
                          ",\"params\":" + params;
    if (!session.empty()) message += ",\"sessionId\":" + json_quote(session);
    message += "}";

    const auto deadline = clock_type::now() + timeout_;
    send(message, deadline);
    for (;;) {
        json_value reply = receive(deadline);
        if (const json_value *reply_id = reply.find("id")) {
            if (reply_id->as_number() != static_cast<double>(id)) continue;  // a call given up on
            if (const json_value *error = reply.find("error")) {
                const json_value *text = error->find("message");
                throw std::runtime_error("devtools: " + method +
                                         " failed: " + (text ? text->dump() : error->dump()));
            }
            const json_value *result = reply.find("result");
            return result ? *result : json_value();
        }
        if (const json_value *name = reply.find("method")) {
            const json_value *sid = reply.find("sessionId");
            const json_value *p = reply.find("params");
            keep(name->as_string(), sid ? sid->as_string() : "", p ? *p : json_value());
        }
    }
}

devtools_page::devtools_page(devtools_browser &browser) : browser_(browser)
{
    context_ = browser_.call("Target.createBrowserContext", "{\"disposeOnDetach\":true}")
                   .at("browserContextId")
                   .as_string();
    target_ = browser_
                  .call("Target.createTarget", "{\"url\":\"about:blank\",\"browserContextId\":" +
                                                   json_quote(context_) + "}")
                  .at("targetId")
                  .as_string();
    session_ = browser_
                   .call("Target.attachToTarget",
                         "{\"targetId\":" + json_quote(target_) + ",\"flatten\":true}")
                   .at("sessionId")
                   .as_string();
    browser_.call("Page.enable", "{}", session_);
    browser_.call("Page.setLifecycleEventsEnabled", "{\"enabled\":true}", session_);
}

devtools_page::~devtools_page()
{
    if (!browser_.healthy()) return;  // it goes with the browser
    try {
        browser_.call("Target.disposeBrowserContext",
                      "{\"browserContextId\":" + json_quote(context_) + "}");
    } catch (const std::exception &) {
        // Nothing to be done in a destructor; the browser is killed at the end anyway.
    }
    browser_.drop_events("Page.lifecycleEvent", session_);
}

void devtools_page::set_device(const device_metrics &m)
{
    browser_.call("Emulation.setDeviceMetricsOverride",
                  "{\"width\":" + std::to_string(m.width) +
                      ",\"height\":" + std::to_string(m.height) +
                      ",\"deviceScaleFactor\":" + number_text(m.scale_factor) +
                      ",\"mobile\":" + (m.mobile ? "true" : "false") + "}",
                  session_);
    browser_.call("Emulation.setTouchEmulationEnabled",
                  std::string("{\"enabled\":") + (m.mobile ? "true" : "false") + "}", session_);
}

void devtools_page::set_color_scheme(const std::string &scheme)
{
    browser_.call(
        "Emulation.setEmulatedMedia",
        "{\"features\":[{\"name\":\"prefers-color-scheme\",\"value\":" + json_quote(scheme) + "}]}",
        session_);
}

void devtools_page::navigate(const std::string &url)
{
    const json_value result =
        browser_.call("Page.navigate", "{\"url\":" + json_quote(url) + "}", session_);
    if (const json_value *error = result.find("errorText"); error && !error->as_string().empty())
        throw std::runtime_error("devtools: navigating to " + url +
                                 " failed: " + error->as_string());
    const json_value *loader = result.find("loaderId");
    if (!loader) return;  // within the same document: nothing more to load
    const std::string loader_id = loader->as_string();
    browser_.wait_event("Page.lifecycleEvent", session_, [&](const json_value &p) {
        const json_value *name = p.find("name");
        const json_value *id = p.find("loaderId");
        return name && id && name->as_string() == "load" && id->as_string() == loader_id;
    });
    // The other lifecycle events of this load are of no further use.
    browser_.drop_events("Page.lifecycleEvent", session_);
}

json_value devtools_page::evaluate(const std::string &expression)
{
    const json_value reply = browser_.call("Runtime.evaluate",
                                           "{\"expression\":" + json_quote(expression) +
                                               ",\"returnByValue\":true,\"awaitPromise\":true}",
                                           session_);
    if (const json_value *details = reply.find("exceptionDetails")) {
        const json_value *exception = details->find("exception");
        const json_value *description = exception ? exception->find("description") : nullptr;
        throw std::runtime_error("devtools: script failed: " +
                                 (description ? description->as_string() : details->dump()));
    }
    const json_value &result = reply.at("result");
    if (const json_value *value = result.find("value")) return *value;
    if (const json_value *special = result.find("unserializableValue"))
        throw std::runtime_error("devtools: script gave " + special->as_string());
    return json_value();  // undefined
}

void devtools_page::settle()
{
    // A broken image rejects decode(); it is shown broken, which is settled too.
    evaluate("document.fonts.ready.then(() => Promise.all(Array.from(document.images, "
             "i => i.decode().catch(() => null)))).then(() => true)");
}

void devtools_page::load_lazy_images()
{
    evaluate(R"((async () => {
        for (const img of document.querySelectorAll('img[loading=lazy]')) {
            img.scrollIntoView();
            if (!img.complete)
                await new Promise(done => {
                    img.addEventListener('load', done);
                    img.addEventListener('error', done);
                });
        }
        window.scrollTo(0, 0);
        return true;
    })())");
}

std::string devtools_page::evaluate_string(const std::string &expression)
{
    return evaluate(expression).as_string();
}

double devtools_page::evaluate_number(const std::string &expression)
{
    return evaluate(expression).as_number();
}

css_rect devtools_page::element_rect(const std::string &selector)
{
    const json_value r = evaluate(
        "(() => { const e = document.querySelector(" + json_quote(selector) +
        "); if (!e) return null; const r = e.getBoundingClientRect();"
        " return [r.left + window.scrollX, r.top + window.scrollY, r.width, r.height]; })()");
    if (r.is_null()) throw std::runtime_error("devtools: no element matches " + selector);
    const std::vector<json_value> &v = r.as_array();
    return {v.at(0).as_number(), v.at(1).as_number(), v.at(2).as_number(), v.at(3).as_number()};
}

std::string devtools_page::screenshot(const screenshot_request &request)
{
    const bool jpeg = request.format == screenshot_request::image_format::jpeg;
    std::string params = std::string("{\"format\":\"") + (jpeg ? "jpeg" : "png") + "\"";
    if (jpeg) params += ",\"quality\":" + std::to_string(request.quality);
    if (request.clip_set) {
        params += ",\"captureBeyondViewport\":true,\"clip\":" + params_of(request.clip);
    } else if (request.full_page) {
        const json_value metrics = browser_.call("Page.getLayoutMetrics", "{}", session_);
        const json_value &size = metrics.at("cssContentSize");
        const css_rect page{0, 0, std::ceil(size.at("width").as_number()),
                            std::ceil(size.at("height").as_number())};
        // At the zoom the page is shown at: a phone fits a page wider than
        // itself to its screen.
        const double zoom = metrics.at("cssVisualViewport").at("scale").as_number();
        params += ",\"captureBeyondViewport\":true,\"clip\":" + params_of(page, zoom);
    }
    params += "}";
    return base64_decode(
        browser_.call("Page.captureScreenshot", params, session_).at("data").as_string());
}

void devtools_page::save_screenshot(const std::string &path, const screenshot_request &request)
{
    const std::string bytes = screenshot(request);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("devtools: cannot write " + path);
}
