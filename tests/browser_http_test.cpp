// Galleries as a visitor's browser meets them: served by a plain web server
// that sends no charset, and opened from the disk. Headless Chromium starts
// at the gallery index page and follows every link to a page; on every page
// each image must be loaded at its stated size, each URL the page names
// (links, images, srcset candidates, the style sheet) must stay inside the
// gallery and name a file that exists, and texts must show as UTF-8.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/settings.h"
#include "support/devtools.h"
#include "support/http_server.h"
#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// ---- bytes and text ----

// The text a browser shows for bytes read as UTF-8: every maximal invalid
// subsequence becomes one U+FFFD, as the Encoding Standard decodes.
std::string shown_as_utf8(const std::string &bytes)
{
    const std::string replacement = "\xef\xbf\xbd";
    std::string out;
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        int needed = 0;
        unsigned char lower = 0x80;
        unsigned char upper = 0xBF;
        if (lead < 0x80) {
            out += bytes[i++];
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            if (lead == 0xE0) lower = 0xA0;
            if (lead == 0xED) upper = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            if (lead == 0xF0) lower = 0x90;
            if (lead == 0xF4) upper = 0x8F;
        } else {
            out += replacement;
            ++i;
            continue;
        }
        size_t j = i + 1;
        int seen = 0;
        while (seen < needed && j < bytes.size()) {
            const auto next = static_cast<unsigned char>(bytes[j]);
            if (next < lower || next > upper) break;
            lower = 0x80;
            upper = 0xBF;
            ++j;
            ++seen;
        }
        out += seen == needed ? bytes.substr(i, j - i) : replacement;
        i = j;
    }
    return out;
}

// document.title: ASCII white space runs become one blank, none at the ends.
std::string collapsed(const std::string &text)
{
    std::string out;
    bool blank = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r') {
            blank = !out.empty();
        } else {
            if (blank) out += ' ';
            blank = false;
            out += c;
        }
    }
    return out;
}

std::string file_name_of(const std::string &path) { return fs::path(path).filename().string(); }

void write_jpegs(const std::string &album, const std::vector<std::string> &names, uint32_t seed)
{
    make_dir(album);
    for (const std::string &name : names)
        write_jpeg(album + "/" + name,
                   {.width = 80 + int(seed % 5) * 8, .height = 60, .seed = seed++});
}

// ---- where the gallery is reached ----

// A gallery directory as the browser reaches it: by file:// URLs, or over
// HTTP from a server whose document root holds the gallery.
struct site {
    std::string root;     // served directory; "" for file://
    std::string gallery;  // the gallery directory, under root
    std::string origin;   // "http://127.0.0.1:<port>", or "" for file://
    const char *scheme() const { return origin.empty() ? "file" : "http"; }

    std::string url_of(const std::string &file) const
    {
        if (origin.empty()) return file_url(file);
        return origin + file_url(file.substr(root.size())).substr(std::string("file://").size());
    }

    // The file a URL names, or nothing when it is no URL of this site or
    // carries a query or fragment (vistrel writes neither: a '?' or '#' of
    // a name left raw cuts the path short).
    std::optional<std::string> file_of(const std::string &url) const
    {
        const std::string prefix = origin.empty() ? "file://" : origin;
        if (!url.starts_with(prefix + "/")) return std::nullopt;
        const std::string rest = url.substr(prefix.size());
        if (rest.find_first_of("?#") != std::string::npos) return std::nullopt;
        const std::string path = percent_decode(rest);
        if (path.find('\0') != std::string::npos) return std::nullopt;
        return root + path;
    }

    // Inside the gallery once every dot segment is resolved.
    bool inside(const std::string &file) const
    {
        const std::string normal = fs::path(file).lexically_normal().string();
        return normal.starts_with(gallery + "/") && normal.find("/../") == std::string::npos;
    }
};

// ---- what the browser finds on a page ----

struct image_report {
    std::string src;
    std::string current;              // currentSrc: the file the browser chose
    std::vector<std::string> srcset;  // candidate URLs, resolved
    bool complete = false;
    int natural_width = 0;
    int natural_height = 0;
    std::string width;  // the markup's attributes
    std::string height;
    std::string alt;
    bool cover = false;
    std::string link;  // href of the enclosing link, if any
};

struct album_item_report {
    std::string text;
    std::string link;
    std::string cover;  // src of the cover image inside the link, if any
};

struct page_list_report {
    std::string text;
    std::vector<std::string> links;
    std::string current;
};

struct page_report {
    std::string file;  // as the crawl reached it
    std::string url;
    std::string ready_state;
    std::string charset;
    std::string title;
    std::optional<std::string> heading;
    std::optional<std::string> caption;
    std::vector<image_report> images;
    std::vector<std::string> links;
    std::vector<std::pair<std::string, bool>> sheets;  // href, loaded
    // Every URL-valued attribute: element attr, URL.
    std::vector<std::pair<std::string, std::string>> urls;
    std::vector<album_item_report> albums;
    std::vector<page_list_report> page_lists;
};

// Everything is returned as the browser resolved it, against the page's
// own URL; nothing is decoded here (a Latin-1 byte is no UTF-8 to decode).
const char *inspect_script = R"((() => {
  const resolve = u => {
    try { return new URL(u, document.baseURI).href; } catch (e) { return 'invalid:' + u; }
  };
  // Image candidate strings as the HTML standard splits them.
  const candidates = text => {
    const found = [];
    let i = 0;
    while (i < text.length) {
      while (i < text.length && /[\s,]/.test(text[i])) ++i;
      let start = i;
      while (i < text.length && !/\s/.test(text[i])) ++i;
      let url = text.slice(start, i);
      if (!url) break;
      let described = true;
      if (url.endsWith(',')) { url = url.replace(/,+$/, ''); described = false; }
      found.push(resolve(url));
      if (described) {
        let depth = 0;
        while (i < text.length && (text[i] !== ',' || depth > 0)) {
          if (text[i] === '(') ++depth;
          if (text[i] === ')') --depth;
          ++i;
        }
      }
    }
    return found;
  };
  const text = e => e ? e.textContent : null;
  const href = e => e ? e.href : '';
  const src = e => e ? e.src : '';
  const urls = [];
  for (const e of document.querySelectorAll('*')) {
    for (const a of e.attributes) {
      const name = a.name.toLowerCase();
      const where = e.tagName.toLowerCase() + ' ' + name;
      if (name === 'srcset') for (const u of candidates(a.value)) urls.push([where, u]);
      else if (['href', 'src', 'background', 'action', 'formaction', 'poster', 'data', 'cite'].includes(name))
        urls.push([where, resolve(a.value)]);
    }
  }
  return {
    url: document.URL,
    ready: document.readyState,
    charset: document.characterSet,
    title: document.title,
    heading: text(document.querySelector('h1')),
    caption: text(document.querySelector('td[colspan="3"] > b > em')),
    images: Array.from(document.images, i => ({
      src: i.src, current: i.currentSrc, srcset: candidates(i.getAttribute('srcset') || ''),
      complete: i.complete, nw: i.naturalWidth, nh: i.naturalHeight,
      w: i.getAttribute('width') || '', h: i.getAttribute('height') || '', alt: i.alt,
      cover: i.classList.contains('albumcover'), link: href(i.closest('a[href]'))})),
    links: Array.from(document.querySelectorAll('a[href]'), a => a.href),
    sheets: Array.from(document.querySelectorAll('link[rel~=stylesheet]'), l => [l.href, !!l.sheet]),
    urls: urls,
    albums: Array.from(document.querySelectorAll('li.albumitem'), li => ({
      text: li.textContent.trim(), link: href(li.querySelector('a[href]')),
      cover: src(li.querySelector('a[href] > img.albumcover'))})),
    pagelists: Array.from(document.querySelectorAll('p.pagelist'), p => ({
      text: p.textContent, links: Array.from(p.querySelectorAll('a[href]'), href),
      current: text(p.querySelector('b'))})),
  };
})())";

std::string string_member(const json_value &v, const char *key) { return v.at(key).as_string(); }

std::optional<std::string> optional_string(const json_value &v, const char *key)
{
    const json_value &m = v.at(key);
    if (m.is_null()) return std::nullopt;
    return m.as_string();
}

std::vector<std::string> strings(const json_value &v)
{
    std::vector<std::string> out;
    for (const json_value &s : v.as_array()) out.push_back(s.as_string());
    return out;
}

page_report read_report(const json_value &v)
{
    page_report r;
    r.url = string_member(v, "url");
    r.ready_state = string_member(v, "ready");
    r.charset = string_member(v, "charset");
    r.title = string_member(v, "title");
    r.heading = optional_string(v, "heading");
    r.caption = optional_string(v, "caption");
    for (const json_value &i : v.at("images").as_array())
        r.images.push_back({string_member(i, "src"), string_member(i, "current"),
                            strings(i.at("srcset")), i.at("complete").as_bool(),
                            int(i.at("nw").as_int()), int(i.at("nh").as_int()),
                            string_member(i, "w"), string_member(i, "h"), string_member(i, "alt"),
                            i.at("cover").as_bool(), string_member(i, "link")});
    r.links = strings(v.at("links"));
    for (const json_value &s : v.at("sheets").as_array())
        r.sheets.emplace_back(s.as_array().at(0).as_string(), s.as_array().at(1).as_bool());
    for (const json_value &u : v.at("urls").as_array())
        r.urls.emplace_back(u.as_array().at(0).as_string(), u.as_array().at(1).as_string());
    for (const json_value &a : v.at("albums").as_array())
        r.albums.push_back(
            {string_member(a, "text"), string_member(a, "link"), string_member(a, "cover")});
    for (const json_value &p : v.at("pagelists").as_array())
        r.page_lists.push_back({string_member(p, "text"), strings(p.at("links")),
                                optional_string(p, "current").value_or("")});
    return r;
}

// ---- the crawl ----

std::set<std::string> pages_on_disk(const std::string &gallery)
{
    std::set<std::string> pages;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(gallery))
        if (entry.is_regular_file() && entry.path().extension() == ".html")
            pages.insert(entry.path().string());
    return pages;
}

// Which URL of a page failed which check, for the failure message.
std::string where(const page_report &p, const std::string &what) { return p.file + ": " + what; }

// Every URL of the page stays inside the gallery and names a file that
// exists; the footer's link to the program's home page is the one URL
// that leaves, on purpose. Returns the files named.
std::set<std::string> check_urls(const site &s, const page_report &p)
{
    std::set<std::string> files;
    for (const auto &[attribute, url] : p.urls) {
        if (url == vistrel_home_page && attribute == "a href") continue;
        SCOPED_TRACE(where(p, attribute + " " + url));
        const std::optional<std::string> file = s.file_of(url);
        if (!file) {
            ADD_FAILURE() << "a URL that leaves the gallery or is no plain file URL";
            continue;
        }
        EXPECT_TRUE(s.inside(*file)) << "outside the gallery: " << *file;
        EXPECT_TRUE(is_regular_file(*file)) << "no such file: " << *file;
        files.insert(*file);
    }
    return files;
}

// Loaded, shown at the size the markup states, and named by the alt text
// as the browser shows the file's name.
void check_images(const site &s, const page_report &p, double ratio)
{
    for (const image_report &image : p.images) {
        SCOPED_TRACE(where(p, "image " + image.src));
        EXPECT_TRUE(image.complete && image.natural_width > 0) << "not loaded";
        const std::optional<std::string> file = s.file_of(image.src);
        ASSERT_TRUE(file);
        if (image.cover) {
            // Offered by width, its src among them: which one the browser
            // takes is the style tests' matter.
            std::vector<std::optional<std::string>> offered;
            for (const std::string &candidate : image.srcset)
                offered.push_back(s.file_of(candidate));
            EXPECT_TRUE(std::ranges::find(offered, file) != offered.end());
            EXPECT_TRUE(std::ranges::find(offered, s.file_of(image.current)) != offered.end())
                << image.current;
        } else {
            EXPECT_EQ(std::to_string(image.natural_width), image.width);
            EXPECT_EQ(std::to_string(image.natural_height), image.height);
            EXPECT_EQ(image.alt, shown_as_utf8(file_name_of(*file)));
            // The density the screen asks for, whenever it is offered.
            const bool doubled_wanted = ratio > 1 && !image.srcset.empty();
            EXPECT_EQ(image.current, doubled_wanted ? image.srcset.front() : image.src);
        }
        for (const std::string &candidate : image.srcset) {
            const std::optional<std::string> other = s.file_of(candidate);
            ASSERT_TRUE(other) << candidate;
            EXPECT_EQ(file_name_of(*other), file_name_of(*file)) << "another image's file";
        }
    }
}

struct crawl_result {
    std::map<std::string, page_report> pages;  // by file
    std::set<std::string> named;               // every file some page names
};

// From the gallery index page, every link to a page is followed by the URL
// the browser resolved for it, until no new page turns up.
crawl_result crawl(devtools_page &tab, const site &s, double ratio)
{
    crawl_result result;
    std::deque<std::pair<std::string, std::string>> queue = {
        {s.gallery + "/index.html", s.url_of(s.gallery + "/index.html")}};
    std::set<std::string> queued = {queue.front().first};
    while (!queue.empty()) {
        const auto [file, url] = queue.front();
        queue.pop_front();
        SCOPED_TRACE(std::string(s.scheme()) + " " + url);
        try {
            tab.navigate(url);
        } catch (const std::exception &e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        tab.load_lazy_images();
        page_report p = read_report(tab.evaluate(inspect_script));
        p.file = file;
        EXPECT_EQ(p.url, url);
        EXPECT_TRUE(is_regular_file(file)) << "no such page";
        EXPECT_EQ(p.ready_state, "complete");
        EXPECT_EQ(p.charset, "UTF-8") << "the page does not declare its encoding";
        EXPECT_EQ(p.sheets.size(), 1u);
        for (const auto &[href, loaded] : p.sheets) EXPECT_TRUE(loaded) << "style sheet " << href;
        check_images(s, p, ratio);
        const std::set<std::string> named = check_urls(s, p);
        result.named.insert(named.begin(), named.end());
        for (const std::string &link : p.links) {
            const std::optional<std::string> target = s.file_of(link);
            if (target && target->ends_with(".html") && s.inside(*target) &&
                !queued.contains(*target)) {
                queued.insert(*target);
                queue.emplace_back(*target, link);
            }
        }
        result.pages.emplace(file, std::move(p));
    }
    std::set<std::string> reached;
    for (const auto &[file, page] : result.pages) reached.insert(file);
    EXPECT_EQ(reached, pages_on_disk(s.gallery)) << "pages no link leads to, or links to no page";
    return result;
}

// Over HTTP, every file a page names that the crawl did not open (the
// originals) is fetched too; then no request at all may have missed.
void fetch_the_rest(devtools_page &tab, const site &s, const crawl_result &crawled,
                    const http_server &server)
{
    std::string list;
    std::vector<std::string> files;
    for (const std::string &file : crawled.named) {
        if (crawled.pages.contains(file) || !s.inside(file)) continue;
        if (!list.empty()) list += ',';
        list += json_quote(s.url_of(file));
        files.push_back(file);
    }
    const json_value statuses =
        tab.evaluate("Promise.all([" + list + "].map(u => fetch(u).then(r => r.status, () => 0)))");
    ASSERT_EQ(statuses.as_array().size(), files.size());
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(statuses.as_array()[i].as_int(), 200) << files[i];
    // Chromium asks every origin for its icon; the gallery has none.
    std::set<std::string> missing = server.missing();
    missing.erase("/favicon.ico");
    EXPECT_TRUE(missing.empty()) << "answered 404: " << *missing.begin();
}

struct visit {
    bool http;
    double ratio;
};

std::string visit_name(const visit &v)
{
    return std::string(v.http ? "http" : "file") + " at device pixel ratio " +
           std::to_string(int(v.ratio));
}

// Crawls the gallery under root once per visit; each result is handed to
// check with the site it came from.
template <typename Check>
void crawl_each(const std::string &root, const std::string &gallery,
                const std::vector<visit> &visits, Check check)
{
    devtools_browser browser;
    for (const visit &v : visits) {
        SCOPED_TRACE(visit_name(v));
        std::optional<http_server> server;
        site s{.root = "", .gallery = gallery, .origin = ""};
        if (v.http) {
            server.emplace(root);
            s.root = root;
            s.origin = server->origin();
        }
        // A fresh context per visit: nothing cached from another.
        devtools_page tab(browser);
        tab.set_device({.width = 1280, .height = 900, .scale_factor = v.ratio, .mobile = false});
        const crawl_result crawled = crawl(tab, s, v.ratio);
        if (server) fetch_the_rest(tab, s, crawled, *server);
        check(s, crawled);
    }
}

std::string as_utf8(const std::u8string &text) { return std::string(text.begin(), text.end()); }

// ---- the web server the tests use ----

struct http_answer {
    std::string status_line;
    std::string content_type;
    std::string body;
};

// One request over a fresh connection, as a browser sends it.
http_answer http_get(const http_server &server, const std::string &target)
{
    const std::string origin = server.origin();
    const int port = std::stoi(origin.substr(origin.rfind(':') + 1));
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    std::string response;
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
            char buffer[4096];
            for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
                response.append(buffer, size_t(n));
        }
    }
    close(fd);
    http_answer answer;
    const size_t head_end = response.find("\r\n\r\n");
    if (head_end == std::string::npos) return answer;
    const std::string head = response.substr(0, head_end + 2);
    answer.status_line = head.substr(0, head.find("\r\n"));
    const std::string field = "\r\nContent-Type: ";
    if (const size_t at = head.find(field); at != std::string::npos)
        answer.content_type =
            head.substr(at + field.size(), head.find("\r\n", at + 2) - at - field.size());
    answer.body = response.substr(head_end + 4);
    return answer;
}

// The server the browser tests trust: files by the raw bytes of the
// decoded path, pages without a charset, nothing outside its root.
TEST(http_server, serves_files_by_raw_path_bytes_and_nothing_else)
{
    temp_dir root;
    const std::string www = root.file("www");
    make_dir(www);
    make_dir(www + "/dir");
    write_file(www + "/a b.html", "page");
    write_file(www + "/caf\xe9.jpg", "latin-1");
    write_file(www + "/dir/x.css", "sheet");
    write_file(root.file("secret.html"), "outside");
    http_server server(www);

    struct request_case {
        std::string target;
        std::string status_line;
        std::string content_type;
        std::string body;
    };
    const request_case cases[] = {
        {"/a%20b.html", "HTTP/1.0 200 OK", "text/html", "page"},
        {"/a%20b.html?x=1#y", "HTTP/1.0 200 OK", "text/html", "page"},
        {"/caf%E9.jpg", "HTTP/1.0 200 OK", "image/jpeg", "latin-1"},
        {"/dir/x.css", "HTTP/1.0 200 OK", "text/css", "sheet"},
        {"/caf%C3%A9.jpg", "HTTP/1.0 404 Not Found", "text/plain", ""},
        {"/dir", "HTTP/1.0 404 Not Found", "text/plain", ""},
        {"/..%2Fsecret.html", "HTTP/1.0 404 Not Found", "text/plain", ""},
        {"/dir/..", "HTTP/1.0 404 Not Found", "text/plain", ""},
        {"/a%20b.html%00.jpg", "HTTP/1.0 404 Not Found", "text/plain", ""},
    };
    for (const request_case &c : cases) {
        SCOPED_TRACE(c.target);
        const http_answer a = http_get(server, c.target);
        EXPECT_EQ(a.status_line, c.status_line);
        EXPECT_EQ(a.content_type, c.content_type);
        EXPECT_EQ(a.body, c.body);
    }
    const std::set<std::string> missing = {"/caf\xc3\xa9.jpg", "/dir", "/../secret.html", "/dir/..",
                                           std::string("/a b.html") + '\0' + ".jpg"};
    EXPECT_EQ(server.missing(), missing);
}

// An empty gallery directory in root, with a stylesheet for its pages to load.
std::string new_gallery(const temp_dir &root)
{
    const std::string gallery = root.file("gallery");
    make_dir(gallery);
    write_file(gallery + "/vistrel.css", "body { margin: 8px; }\n");
    return gallery;
}

// ---- UTF-8 and Latin-1 names, with page numbers, covers and -2 ----

TEST(browser_http, utf8_and_latin1_names_load_show_and_link_over_http_and_from_disk)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    temp_dir root;
    const std::string gallery = new_gallery(root);

    // UTF-8 names and a title and captions in UTF-8; one name in Latin-1
    // (0xE9 alone is no UTF-8), captioned through its raw bytes. Seven
    // images make four index pages of two.
    const std::string cafe = as_utf8(u8"Café.jpg");
    const std::string nihon = as_utf8(u8"日本.jpg");
    const std::string latin1 = "Caf\xe9.jpg";
    const std::string utf8_album = as_utf8(u8"Café ☕");
    const std::string utf8_title = as_utf8(u8"Été à <em>Kyōto</em> — 日本");
    write_jpegs(gallery + "/" + utf8_album,
                {cafe, nihon, latin1, as_utf8(u8"naïve résumé.jpg"), "plain 1.jpg", "plain 2.jpg",
                 as_utf8(u8"Ωmega.JPEG")},
                1);
    write_file(gallery + "/" + utf8_album + "/.description",
               ". " + utf8_title + "\n" + cafe +
                   as_utf8(u8" Un café <b>crème</b>, s’il vous plaît\n") + nihon +
                   as_utf8(u8" 東京タワー\n") + latin1 + " Written in Latin-1\n");
    // A Latin-1 album directory of Latin-1 names, without a description.
    const std::string latin1_album = "Vacances d'\xe9t\xe9";
    write_jpegs(gallery + "/" + latin1_album,
                {"\xe9l\xe8ve.jpg", "caf\xe9 cr\xe8me.jpg", "plain.jpg"}, 20);
    // An album without images.
    make_dir(gallery + "/" + as_utf8(u8"vide é"));

    const std::string gallery_title = as_utf8(u8"Photos d’été &amp; 日本");
    const run_result r =
        run_vistrel({"-n", "-C", "-2", "-r", "1", "-c", "2", "-d", gallery_title, gallery});
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string shown_gallery_title = as_utf8(u8"Photos d’été & 日本");
    const std::string shown_album_title = as_utf8(u8"Été à Kyōto — 日本");
    // A title element holds text only: there the tags stay.
    const std::string album_title_in_title = as_utf8(u8"Été à <em>Kyōto</em> — 日本");
    // Image page -> its caption as the browser shows it.
    const std::map<std::string, std::string> captions = {
        {utf8_album + "/" + cafe, as_utf8(u8"Un café crème, s’il vous plaît")},
        {utf8_album + "/" + nihon, as_utf8(u8"東京タワー")},
        {utf8_album + "/" + latin1, "Written in Latin-1"},
        {latin1_album + "/\xe9l\xe8ve.jpg", as_utf8(u8"\uFFFDl\uFFFDve.jpg")},
    };

    crawl_each(
        root.path, gallery, {{true, 1}, {true, 2}, {false, 1}},
        [&](const site &s, const crawl_result &crawled) {
            // 7 + 4 pages, 3 + 2, and the gallery index page.
            EXPECT_EQ(crawled.pages.size(), 17u);

            const page_report &index = crawled.pages.at(gallery + "/index.html");
            EXPECT_EQ(index.title, shown_gallery_title);
            ASSERT_EQ(index.albums.size(), 3u);
            EXPECT_EQ(index.albums[0].text, shown_album_title + " (7 images)");
            EXPECT_EQ(s.file_of(index.albums[0].link), gallery + "/" + utf8_album + "/index.html");
            EXPECT_EQ(index.albums[1].text, as_utf8(u8"Vacances d'\uFFFDt\uFFFD (3 images)"));
            EXPECT_EQ(s.file_of(index.albums[1].link),
                      gallery + "/" + latin1_album + "/index.html");
            // Covers: the scaled image of each album's first image, in byte order.
            EXPECT_EQ(s.file_of(index.albums[0].cover),
                      gallery + "/" + utf8_album + "/.scaled/" + cafe);
            EXPECT_EQ(s.file_of(index.albums[1].cover),
                      gallery + "/" + latin1_album + "/.scaled/caf\xe9 cr\xe8me.jpg");
            EXPECT_EQ(index.albums[2].text, as_utf8(u8"vide é (0 images)"));
            EXPECT_EQ(index.albums[2].link, "") << "an album without images has no page to lead to";
            EXPECT_EQ(index.albums[2].cover, "");

            // Numbered pages: above and below the thumbnails, each page's own
            // number in bold and a link to every other one.
            const auto index_page = [&](int n) {
                const std::string name = n == 1 ? "index.html"
                                                : "index" + std::to_string(n) + ".html";
                return gallery + "/" + utf8_album + "/" + name;
            };
            for (int n = 1; n <= 4; ++n) {
                const page_report &p = crawled.pages.at(index_page(n));
                SCOPED_TRACE(p.file);
                EXPECT_EQ(p.title, album_title_in_title + " / " + std::to_string(n));
                EXPECT_EQ(p.heading, shown_album_title + " / " + std::to_string(n));
                ASSERT_EQ(p.page_lists.size(), 2u);
                for (const page_list_report &list : p.page_lists) {
                    EXPECT_EQ(list.text, "1 2 3 4");
                    EXPECT_EQ(list.current, std::to_string(n));
                    std::vector<std::string> expected;
                    for (int other = 1; other <= 4; ++other)
                        if (other != n) expected.push_back(index_page(other));
                    std::vector<std::string> linked;
                    for (const std::string &link : list.links)
                        linked.push_back(s.file_of(link).value_or(link));
                    EXPECT_EQ(linked, expected);
                }
            }
            EXPECT_EQ(
                crawled.pages.at(gallery + "/" + latin1_album + "/index.html").page_lists.size(),
                2u);

            // Image pages: the title names the image as its bytes read as
            // UTF-8; the caption is the description's, or else the name.
            for (const auto &[file, p] : crawled.pages) {
                if (!file.ends_with(".jpg.html") && !file.ends_with(".JPEG.html")) continue;
                SCOPED_TRACE(file);
                const fs::path path(file);
                const std::string album = path.parent_path().filename().string();
                const std::string name = path.stem().string();
                const std::string title = album == utf8_album ? album_title_in_title
                                                              : shown_gallery_title;
                EXPECT_EQ(p.title, collapsed(title + ": " + shown_as_utf8(name)));
                const auto caption = captions.find(album + "/" + name);
                EXPECT_EQ(p.caption,
                          caption != captions.end() ? caption->second : shown_as_utf8(name));
            }
        });
}

// ---- names that would lead out of the gallery if written raw ----

TEST(browser_links, no_url_of_any_page_leaves_the_gallery)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    temp_dir root;
    const std::string gallery = new_gallery(root);

    // Raw, each would be a URL of another host or scheme, a path above the
    // gallery, or a cut-short path: backslashes are slashes to a browser,
    // a colon ends a scheme, %2e%2e is "..", '?' and '#' end the path,
    // tabs and newlines vanish from URLs, and character references such as
    // &colon; and &sol; are decoded in attributes.
    const std::vector<std::string> names = {
        "\\\\evil.example\\x.jpg",
        "\\evil.example\\y.jpg",
        "javascript:alert(1).jpg",
        "java\nscript:alert(2).jpg",
        "http:x.jpg",
        "http:%2F%2Fevil.example%2Fx.jpg",
        "%2e%2e%2f%2e%2e%2fx.jpg",
        "C:x.jpg",
        "?x=1#y.jpg",
        "tab\there.jpg",
        "http&colon;&sol;&sol;evil.example&sol;x.jpg",
    };
    const std::vector<std::string> albums = {
        "\\\\evil.example",
        "%2e%2e",
        "http:evil.example",
        "javascript:alert(3)",
        "C|",
        "#top",
        "?q=1",
        "&bsol;&bsol;evil.example",
        // Commas before a URL in srcset are skipped.
        ",evil.example",
    };
    write_jpegs(gallery + "/" + albums[0], names, 1);
    for (size_t i = 1; i < albums.size(); ++i)
        write_jpegs(gallery + "/" + albums[i], {"x.jpg"}, 40 + uint32_t(i));
    const run_result r = run_vistrel({"-n", "-C", "-2", "-r", "2", "-c", "2", gallery});
    ASSERT_EQ(r.status, 0) << r.err;

    crawl_each(root.path, gallery, {{true, 1}, {false, 1}},
               [](const site &, const crawl_result &crawled) {
                   // 11 + 3 pages, 8 times 1 + 1, and the gallery index page.
                   EXPECT_EQ(crawled.pages.size(), 31u);
               });
}

// Browsers strip blanks from the ends of a URL, so a link must not start
// with a raw one: href=" x.jpg.html" would reach "x.jpg.html".
TEST(browser_http, names_starting_with_a_blank_are_linked_to_their_own_files)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    temp_dir root;
    const std::string gallery = new_gallery(root);
    write_jpegs(gallery + "/ lead", {" x.jpg", "y.jpg"}, 1);
    const run_result r = run_vistrel({"-C", gallery});
    ASSERT_EQ(r.status, 0) << r.err;
    crawl_each(root.path, gallery, {{true, 1}, {false, 1}},
               [](const site &, const crawl_result &) {});
}

// ---- names too long for "<name>.html" ----

TEST(browser_long_names, thumbnails_lead_to_the_shortened_pages_which_show_their_images)
{
    if (!chromium_installed())
        GTEST_SKIP() << chromium_path << " is not installed (scripts/install-deps installs it)";
    temp_dir root;
    const std::string gallery = new_gallery(root);
    const std::string album = gallery + "/long";
    std::string two_byte;
    for (int i = 0; i < 125; ++i) two_byte += as_utf8(u8"é");
    std::string three_byte;
    for (int i = 0; i < 83; ++i) three_byte += as_utf8(u8"日");
    // In album order: 5, 251, 254 and 253 bytes; the long ones neighbours.
    const std::vector<std::string> names = {"a.jpg", std::string(247, 'b') + ".jpg",
                                            two_byte + ".jpg", three_byte + ".jpg"};
    ASSERT_EQ(names[1].size(), 251u);
    ASSERT_EQ(names[2].size(), 254u);
    ASSERT_EQ(names[3].size(), 253u);
    write_jpegs(album, names, 1);
    const run_result r = run_vistrel({"-2", gallery});
    ASSERT_EQ(r.status, 0) << r.err;

    crawl_each(
        root.path, gallery, {{true, 1}, {false, 1}},
        [&](const site &s, const crawl_result &crawled) {
            EXPECT_EQ(crawled.pages.size(), names.size() + 2);
            const page_report &index = crawled.pages.at(album + "/index.html");
            ASSERT_EQ(index.images.size(), names.size());
            for (size_t i = 0; i < names.size(); ++i) {
                const std::string &name = names[i];
                SCOPED_TRACE(std::to_string(name.size()) + " bytes: " + name.substr(0, 12));
                // The thumbnail's link, as the browser resolved it, is the page.
                const std::optional<std::string> file = s.file_of(index.images[i].link);
                ASSERT_TRUE(file);
                ASSERT_TRUE(crawled.pages.contains(*file));
                const std::string page_name = file_name_of(*file);
                if (name.size() + 5 <= 255) {
                    EXPECT_EQ(page_name, name + ".html");
                } else {
                    // A prefix cut at a character boundary, "~", 16 hex digits.
                    ASSERT_LE(page_name.size(), 255u);
                    ASSERT_GT(page_name.size(), 22u);
                    const std::string prefix = page_name.substr(0, page_name.size() - 22);
                    EXPECT_TRUE(name.starts_with(prefix)) << page_name;
                    EXPECT_EQ(shown_as_utf8(prefix), prefix) << "cut within a character";
                    EXPECT_EQ(page_name[prefix.size()], '~');
                    const std::string hash = page_name.substr(prefix.size() + 1, 16);
                    EXPECT_EQ(hash.find_first_not_of("0123456789abcdefABCDEF"), std::string::npos)
                        << page_name;
                    EXPECT_TRUE(page_name.ends_with(".html"));
                }
                const page_report &p = crawled.pages.at(*file);
                EXPECT_EQ(p.title, "my webgallery: " + name);
                EXPECT_EQ(p.caption, name);
                // The scaled image, then a thumbnail per neighbour, each loaded
                // (checked for every page) and leading to the neighbour's page.
                const size_t neighbours = (i > 0 ? 1 : 0) + (i + 1 < names.size() ? 1 : 0);
                ASSERT_EQ(p.images.size(), 1 + neighbours);
                EXPECT_EQ(s.file_of(p.images[0].src), album + "/.scaled/" + name);
                size_t n = 1;
                for (const size_t other : {i - 1, i + 1}) {
                    if (other >= names.size()) continue;  // wraps below 0 too
                    EXPECT_EQ(s.file_of(p.images[n].src), album + "/.thumbs/" + names[other]);
                    EXPECT_EQ(s.file_of(p.images[n].link), s.file_of(index.images[other].link));
                    ++n;
                }
            }
        });
}

}  // namespace
