// The pages in a real browser: a gallery with hostile file names, an album
// name full of markup and URL characters, and an EXIF text that carries a
// script is opened page by page in headless Chromium. Every page must load,
// every image must show at the size its markup states, every link must reach
// a file that exists, and nothing taken from a name or an EXIF text may run
// or even become an element.
//
// Chromium loads every page into an iframe of a harness page (file:// pages
// are one origin with --allow-file-access-from-files), the harness inspects
// them once all have loaded and writes its findings into its own DOM, and
// --dump-dom hands that DOM back to the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/settings.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"
#include "support/url_text.h"

namespace {

namespace fs = std::filesystem;

const std::string chromium = "/usr/bin/chromium";

// Every character a browser could take for markup or for part of a URL, and
// names that would run script if they reached a page unescaped: as an
// attribute break-out, as a javascript: link, as a script element.
const std::vector<std::string> hostile_names = {
    "a & b <c> \"d\" 'e'.jpg",
    "100%41 #1 ?x :y.jpg",
    "\" onerror=\"vistrel_marker=1\" x=\".jpg",
    "javascript:vistrel_marker=1;.jpg",
    "<script>vistrel_marker=1.jpg",
    "Caf\xc3\xa9 \xc3\x98rsted.jpg",
};
const std::string hostile_album = "Trip & <Friends> \"24\" 'x' 100%41 #1 ?q :z";
// Closes the EXIF comment early if written raw, and runs a script then.
const std::string hostile_model = "Cam --> <script>vistrel_marker=1</script> <!-- x";

const std::string harbour_title = "Summer at the <em>harbour</em> &amp; beach";

exif_recipe camera_exif(const std::string &model)
{
    return {.model = model,
            .taken = "2024:07:14 18:30:05",
            .exposure = std::make_pair(1u, 250u),
            .aperture = std::make_pair(4u, 1u),
            .flash = 16};
}

// Three albums: a plain one with a description (title and captions with
// the owner's markup) and enough images for three index pages of four, the
// hostile one, and one of every kind of JPEG file.
void build_gallery(const std::string &gallery)
{
    make_dir(gallery);
    write_file(gallery + "/vistrel.css", "body { font-family: sans-serif; }\n");

    const std::string harbour = gallery + "/Harbour";
    make_dir(harbour);
    for (int i = 1; i <= 9; ++i) {
        jpeg_recipe recipe{.width = 160, .height = 120, .seed = static_cast<uint32_t>(i)};
        if (i % 2 == 1) recipe.exif = camera_exif("Harbour Cam");
        write_jpeg(harbour + "/harbour-0" + std::to_string(i) + ".jpg", recipe);
    }
    write_file(harbour + "/.description", ". " + harbour_title +
                                              "\nharbour-02.jpg The <b>red</b> boat\n"
                                              "harbour-07.jpg Nets &amp; ropes\n");

    const std::string trip = gallery + "/" + hostile_album;
    make_dir(trip);
    for (size_t i = 0; i < hostile_names.size(); ++i) {
        jpeg_recipe recipe{.width = 120, .height = 90, .seed = static_cast<uint32_t>(20 + i)};
        if (i == 0) recipe.exif = camera_exif(hostile_model);
        write_jpeg(trip + "/" + hostile_names[i], recipe);
    }

    const std::string formats = gallery + "/formats";
    make_dir(formats);
    write_jpeg(formats + "/gray.jpg", {.width = 100, .height = 80, .components = 1, .seed = 31});
    write_jpeg(formats + "/cmyk.jpg", {.width = 100, .height = 80, .components = 4, .seed = 32});
    write_jpeg(formats + "/progressive.jpg",
               {.width = 120, .height = 90, .progressive = true, .seed = 33});
    write_jpeg(formats + "/portrait.jpg", {.width = 90, .height = 160, .seed = 34});
}

// The path a file:// URL names, or nothing for any other URL.
std::optional<std::string> file_url_path(const std::string &url)
{
    const std::string scheme = "file://";
    if (url.rfind(scheme, 0) != 0) return std::nullopt;
    std::string path = url.substr(scheme.size());
    if (const size_t end = path.find_first_of("?#"); end != std::string::npos) path.resize(end);
    return percent_decode(path);
}

std::vector<std::string> generated_pages(const std::string &gallery)
{
    std::vector<std::string> pages;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(gallery))
        if (entry.is_regular_file() && entry.path().extension() == ".html")
            pages.push_back(entry.path().string());
    std::sort(pages.begin(), pages.end());
    return pages;
}

// Inspects every iframe once all of them, with their images and style
// sheets, have loaded; one line per finding, each field URI-encoded so the
// dumped DOM holds nothing but plain ASCII between tabs.
const char *harness_script = R"(
window.addEventListener('load', function () {
  var lines = [];
  function put() {
    var fields = [];
    for (var k = 0; k < arguments.length; ++k) fields.push(encodeURIComponent(String(arguments[k])));
    lines.push(fields.join('\t'));
  }
  function inspect(i, frame) {
    var doc = null, win = null;
    try { doc = frame.contentDocument; win = frame.contentWindow; } catch (e) {}
    if (!doc || !doc.body) { put('unreachable', i); return; }
    put('page', i, doc.URL, doc.readyState);
    try { if (win.vistrel_marker !== undefined) put('ran', i); } catch (e) { put('ran', i); }
    var all = doc.getElementsByTagName('*');
    for (var e = 0; e < all.length; ++e) {
      var el = all[e];
      if (el.tagName.toLowerCase() === 'script') put('script', i, el.outerHTML);
      for (var a = 0; a < el.attributes.length; ++a)
        if (/^on/i.test(el.attributes[a].name)) put('handler', i, el.tagName + ' ' + el.attributes[a].name);
    }
    for (var m = 0; m < doc.images.length; ++m) {
      var img = doc.images[m];
      put('image', i, img.src, img.complete ? img.naturalWidth : -1, img.naturalHeight,
          img.getAttribute('width'), img.getAttribute('height'), img.alt);
    }
    var anchors = doc.querySelectorAll('a[href]');
    for (var n = 0; n < anchors.length; ++n) put('link', i, anchors[n].href);
    var sheets = doc.querySelectorAll('link[rel=stylesheet]');
    for (var s = 0; s < sheets.length; ++s) put('style', i, sheets[s].href, sheets[s].sheet ? 'loaded' : 'missing');
    put('title', i, doc.title);
    put('text', i, doc.body.textContent);
    var walker = doc.createTreeWalker(doc, NodeFilter.SHOW_COMMENT);
    while (walker.nextNode()) put('comment', i, walker.currentNode.data);
  }
  try {
    if (window.vistrel_marker !== undefined) put('ran', -1);
    var frames = document.getElementsByTagName('iframe');
    for (var f = 0; f < frames.length; ++f) inspect(f, frames[f]);
    put('done');
  } catch (e) {
    put('error', (e && e.stack) || e);
  }
  document.getElementById('results').textContent = lines.join('\n');
});
)";

void write_harness(const std::string &path, const std::vector<std::string> &pages)
{
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>harness</title></head><body>\n";
    for (const std::string &page : pages)
        html += "<iframe src=\"" + file_url(page) + "\"></iframe>\n";
    html += "<pre id=\"results\"></pre>\n<script>" + std::string(harness_script) +
            "</script>\n</body></html>\n";
    write_file(path, html);
}

struct image_finding {
    std::string src;
    int natural_width = 0;
    int natural_height = 0;
    std::string width;  // the markup's attributes
    std::string height;
    std::string alt;
};

struct page_findings {
    bool reached = false;
    std::string url;
    std::string ready_state;
    bool ran = false;
    std::vector<std::string> scripts;
    std::vector<std::string> handlers;
    std::vector<image_finding> images;
    std::vector<std::string> links;
    std::vector<std::pair<std::string, std::string>> styles;
    std::string title;
    std::string text;
    std::vector<std::string> comments;
};

struct harness_findings {
    bool done = false;
    bool harness_ran = false;
    std::vector<std::string> errors;
    std::vector<page_findings> pages;
};

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

harness_findings parse_findings(const std::string &dom, size_t page_count)
{
    harness_findings found;
    found.pages.resize(page_count);
    const std::string open = "<pre id=\"results\">";
    const size_t begin = dom.find(open);
    const size_t end = begin == std::string::npos ? begin : dom.find("</pre>", begin);
    if (end == std::string::npos) {
        found.errors.push_back("no results element in the dumped DOM");
        return found;
    }
    for (const std::string &line :
         split(dom.substr(begin + open.size(), end - begin - open.size()), '\n')) {
        if (line.empty()) continue;
        std::vector<std::string> f = split(line, '\t');
        for (std::string &field : f) field = percent_decode(field);
        const std::string &kind = f[0];
        if (kind == "done") {
            found.done = true;
            continue;
        }
        if (kind == "error") {
            found.errors.push_back(f.size() > 1 ? f[1] : "");
            continue;
        }
        const long index = f.size() > 1 ? std::stol(f[1]) : -2;
        if (kind == "ran" && index == -1) {
            found.harness_ran = true;
            continue;
        }
        if (index < 0 || static_cast<size_t>(index) >= page_count) {
            found.errors.push_back("unexpected line: " + line);
            continue;
        }
        page_findings &p = found.pages[static_cast<size_t>(index)];
        if (kind == "page" && f.size() == 4) {
            p.reached = true;
            p.url = f[2];
            p.ready_state = f[3];
        } else if (kind == "ran") {
            p.ran = true;
        } else if (kind == "script" && f.size() == 3) {
            p.scripts.push_back(f[2]);
        } else if (kind == "handler" && f.size() == 3) {
            p.handlers.push_back(f[2]);
        } else if (kind == "image" && f.size() == 8) {
            p.images.push_back({f[2], std::stoi(f[3]), std::stoi(f[4]), f[5], f[6], f[7]});
        } else if (kind == "link" && f.size() == 3) {
            p.links.push_back(f[2]);
        } else if (kind == "style" && f.size() == 4) {
            p.styles.emplace_back(f[2], f[3]);
        } else if (kind == "title" && f.size() == 3) {
            p.title = f[2];
        } else if (kind == "text" && f.size() == 3) {
            p.text = f[2];
        } else if (kind == "comment" && f.size() == 3) {
            p.comments.push_back(f[2]);
        } else if (kind != "unreachable") {
            found.errors.push_back("unexpected line: " + line);
        }
    }
    return found;
}

std::string file_name_of(const std::string &path) { return fs::path(path).filename().string(); }

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

void expect_nothing_runs(const page_findings &p)
{
    EXPECT_FALSE(p.ran) << "a script ran";
    EXPECT_TRUE(p.scripts.empty()) << "script element: " << p.scripts.front();
    EXPECT_TRUE(p.handlers.empty()) << "event handler attribute: " << p.handlers.front();
}

// Loaded, at the size the markup states, and named exactly by the alt text
// whatever the name holds.
void expect_images_shown(const page_findings &p)
{
    for (const image_finding &image : p.images) {
        SCOPED_TRACE(image.src);
        EXPECT_GT(image.natural_width, 0) << "the image did not load";
        EXPECT_EQ(std::to_string(image.natural_width), image.width);
        EXPECT_EQ(std::to_string(image.natural_height), image.height);
        const std::optional<std::string> file = file_url_path(image.src);
        ASSERT_TRUE(file) << "not a file URL";
        EXPECT_TRUE(is_regular_file(*file));
        EXPECT_EQ(image.alt, file_name_of(*file));
    }
}

// Every link as the browser resolved it names a file inside the galleries;
// the footer's link to the home page is the one exception.
void expect_links_to_files(const page_findings &p, const std::string &root,
                           std::set<std::string> &linked)
{
    for (const std::string &link : p.links) {
        SCOPED_TRACE(link);
        if (link == vistrel_home_page) continue;
        const std::optional<std::string> file = file_url_path(link);
        ASSERT_TRUE(file) << "a link that leaves the gallery";
        EXPECT_EQ(file->rfind(root + "/", 0), 0u) << "outside the gallery: " << *file;
        EXPECT_TRUE(is_regular_file(*file)) << "no such file: " << *file;
        linked.insert(*file);
    }
}

// Names and EXIF texts show exactly as they are; the owner's title and
// captions are markup and render as such.
void expect_texts_shown(const std::string &page, const page_findings &p, bool exif_in_comment)
{
    const fs::path path(page);
    const std::string album = path.parent_path().filename().string();
    const std::string name = path.stem().string();
    const bool image_page = name.ends_with(".jpg");
    if (album == hostile_album && image_page) {
        EXPECT_EQ(p.title, "my webgallery: " + name);
        EXPECT_TRUE(contains(p.text, name)) << p.text;  // the caption standing in
    }
    if (image_page && exif_in_comment) {
        EXPECT_FALSE(contains(p.text, "EXIF")) << p.text;
        ASSERT_EQ(p.comments.size(), 1u);
        EXPECT_TRUE(p.comments[0].ends_with("End EXIF data ")) << p.comments[0];
    }
    if (name == hostile_names[0] && !exif_in_comment) {
        EXPECT_TRUE(contains(p.text, "Model:" + hostile_model)) << p.text;
    }
    if (name == "harbour-02.jpg") {
        // A title element holds text only, so there the tags stay.
        EXPECT_TRUE(contains(p.text, "The red boat")) << p.text;
        EXPECT_EQ(p.title, "Summer at the <em>harbour</em> & beach: harbour-02.jpg");
    }
    if (album == "Harbour" && name == "index3") {
        EXPECT_TRUE(contains(p.text, "Summer at the harbour & beach / 3")) << p.text;
    }
    if (path.filename() == "index.html" &&
        (album == "table" || album == "comment")) {  // the gallery's
        EXPECT_TRUE(contains(p.text, hostile_album)) << p.text;
        EXPECT_TRUE(contains(p.text, "Summer at the harbour & beach")) << p.text;
    }
}

TEST(browser, every_page_loads_shows_its_images_links_to_files_and_runs_nothing)
{
    if (access(chromium.c_str(), X_OK) != 0)
        GTEST_SKIP() << chromium << " is not installed (scripts/install-deps installs it)";

    temp_dir root;
    // The same gallery twice: EXIF texts as a table with captions on the
    // index pages, and EXIF texts inside an HTML comment.
    const std::string table = root.file("table");
    const std::string comment = root.file("comment");
    build_gallery(table);
    build_gallery(comment);
    for (const auto &[gallery, options] :
         {std::pair{table, std::vector<std::string>{"-r", "2", "-c", "2", "-D"}},
          std::pair{comment, std::vector<std::string>{"-r", "2", "-c", "2", "-e"}}}) {
        std::vector<std::string> args = options;
        args.push_back(gallery);
        const run_result r = run_vistrel(args);
        ASSERT_EQ(r.status, 0) << r.err;
    }

    std::vector<std::string> pages = generated_pages(table);
    const std::vector<std::string> comment_pages = generated_pages(comment);
    pages.insert(pages.end(), comment_pages.begin(), comment_pages.end());
    // 9 + 3 index pages, 6 + 2, 4 + 1, and the gallery index page.
    ASSERT_EQ(pages.size(), 2u * 26u);

    const std::string harness = root.file("harness.html");
    write_harness(harness, pages);
    const run_result browser = run_command(
        chromium,
        {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--user-data-dir=" + root.file("profile"), "--allow-file-access-from-files", "--dump-dom",
         "--virtual-time-budget=30000", file_url(harness)},
        120);
    ASSERT_EQ(browser.status, 0) << "chromium failed or hung:\n" << browser.err;

    const harness_findings found = parse_findings(browser.out, pages.size());
    ASSERT_TRUE(found.errors.empty()) << found.errors.front() << "\nchromium said:\n"
                                      << browser.err;
    ASSERT_TRUE(found.done) << "the harness did not finish:\n" << browser.out.substr(0, 2000);
    EXPECT_FALSE(found.harness_ran) << "a script of a page reached the harness";

    std::set<std::string> linked;
    for (size_t i = 0; i < pages.size(); ++i) {
        const page_findings &p = found.pages[i];
        SCOPED_TRACE(pages[i]);
        ASSERT_TRUE(p.reached) << "the page did not load";
        EXPECT_EQ(file_url_path(p.url).value_or(p.url), pages[i]);
        EXPECT_EQ(p.ready_state, "complete");
        expect_nothing_runs(p);
        expect_images_shown(p);
        expect_links_to_files(p, root.path, linked);
        ASSERT_EQ(p.styles.size(), 1u);
        EXPECT_EQ(p.styles[0].second, "loaded") << p.styles[0].first;
        expect_texts_shown(pages[i], p, pages[i].rfind(comment + "/", 0) == 0);
    }

    // Every page is reachable: the gallery index page by hand, every other
    // page through a link of some page.
    for (const std::string &page : pages) {
        if (page == table + "/index.html" || page == comment + "/index.html") continue;
        EXPECT_TRUE(linked.contains(page)) << "no link leads to " << page;
    }
}

}  // namespace
