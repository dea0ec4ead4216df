// Screenshots of pages for people to look at: every URL (or file path) at
// desktop size (plain and high-density) and phone size, light and dark, the
// whole page each time.
//
//   page_shots <out_dir> <url or file>...
//
// Writes <out_dir>/<NN>-<name>-<device>-<scheme>.png and prints each path.
#include <cctype>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/devtools.h"

namespace {

struct device {
    const char *name;
    device_metrics metrics;
};

const device devices[] = {
    {"desktop", {.width = 1280, .height = 900, .scale_factor = 1, .mobile = false}},
    {"desktop2x", {.width = 1280, .height = 900, .scale_factor = 2, .mobile = false}},
    {"phone", {.width = 390, .height = 844, .scale_factor = 3, .mobile = true}},
};

const char *const schemes[] = {"light", "dark"};

// A URL as given; anything else is taken for a file path.
std::string url_of(const std::string &arg)
{
    if (arg.find("://") != std::string::npos || arg.rfind("about:", 0) == 0 ||
        arg.rfind("data:", 0) == 0)
        return arg;
    return file_url(std::filesystem::absolute(arg).lexically_normal().string());
}

// The last part of the URL's path, kept to characters safe in a file name.
std::string short_name(const std::string &url)
{
    std::string path = url.substr(0, url.find_first_of("?#"));
    while (!path.empty() && path.back() == '/') path.pop_back();
    const size_t slash = path.find_last_of('/');
    const std::string encoded = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string name = percent_decode(encoded);
    for (char &c : name) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!safe) c = '_';
    }
    if (name.size() > 60) name.resize(60);
    return name.empty() ? "page" : name;
}

std::string two_digits(int n)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s <out_dir> <url or file>...\n"
                     "Full-page PNG screenshots of each page at %dx%d (desktop, device pixel\n"
                     "ratio 1 and %g) and %dx%d (phone, device pixel ratio %g), in light and in\n"
                     "dark colour scheme.\n",
                     argv[0], devices[0].metrics.width, devices[0].metrics.height,
                     devices[1].metrics.scale_factor, devices[2].metrics.width,
                     devices[2].metrics.height, devices[2].metrics.scale_factor);
        return 2;
    }
    if (!chromium_installed()) {
        std::fprintf(stderr, "%s: %s is not installed\n", argv[0], chromium_path);
        return 1;
    }
    const std::string out_dir = argv[1];
    try {
        std::filesystem::create_directories(out_dir);
        browser_options options;
        options.extra_flags.push_back("--hide-scrollbars");
        devtools_browser browser(options);
        // One tab per device, used for every page and scheme.
        std::vector<std::unique_ptr<devtools_page>> tabs;
        for (const device &d : devices) {
            tabs.push_back(std::make_unique<devtools_page>(browser));
            tabs.back()->set_device(d.metrics);
        }
        int failures = 0;
        for (int i = 2; i < argc; ++i) {
            const std::string url = url_of(argv[i]);
            const std::string stem = out_dir + "/" + two_digits(i - 1) + "-" + short_name(url);
            for (size_t d = 0; d < std::size(devices); ++d) {
                for (const char *scheme : schemes) {
                    const std::string path = stem + "-" + devices[d].name + "-" + scheme + ".png";
                    try {
                        devtools_page &page = *tabs[d];
                        page.set_color_scheme(scheme);
                        page.navigate(url);
                        page.load_lazy_images();
                        page.settle();
                        screenshot_request request;
                        request.full_page = true;
                        page.save_screenshot(path, request);
                        std::printf("%s\n", path.c_str());
                        std::fflush(stdout);
                    } catch (const std::exception &e) {
                        std::fprintf(stderr, "%s: %s: %s\n", argv[0], path.c_str(), e.what());
                        ++failures;
                        if (!browser.healthy()) return 1;
                    }
                }
            }
        }
        return failures == 0 ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
}
