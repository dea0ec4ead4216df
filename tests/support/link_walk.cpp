#include "support/link_walk.h"

#include <sys/stat.h>

#include <algorithm>
#include <regex>

#include "support/temp_dir.h"
#include "support/url_text.h"

namespace {

// What the pages write into an attribute: &amp; and the other escapes the
// program uses, back to their bytes.
std::string html_unescape(const std::string &text)
{
    static const std::pair<const char *, const char *> entities[] = {
        {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto &[entity, byte] : entities) {
            const std::string e = entity;
            if (text.compare(i, e.size(), e) == 0) {
                out += byte;
                i += e.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

// The path `target` leads to from a page in `dir` (both relative to the
// gallery), or none when it climbs out of the gallery.
bool resolve(const std::string &dir, const std::string &target, std::string &path)
{
    std::vector<std::string> parts;
    auto push = [&parts](const std::string &text) {
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find('/', start);
            if (end == std::string::npos) end = text.size();
            const std::string part = text.substr(start, end - start);
            if (part == "..") {
                if (parts.empty()) return false;
                parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            start = end + 1;
        }
        return true;
    };
    if (!push(dir) || !push(target)) return false;
    path.clear();
    for (const std::string &part : parts) path += (path.empty() ? "" : "/") + part;
    return true;
}

void collect_pages(const std::string &root, std::vector<std::string> &pages)
{
    for (const std::string &name : list_names(root, {.recursive = true}))
        if (name.size() > 5 && name.ends_with(".html")) pages.push_back(name);
}

}  // namespace

std::vector<broken_link> broken_links(const std::string &root, size_t *checked)
{
    std::vector<std::string> pages;
    collect_pages(root, pages);
    std::vector<broken_link> broken;
    size_t count = 0;
    static const std::regex attribute(R"re(\b(href|src|srcset)="([^"]*)")re");
    static const std::regex escape_key(R"re(Escape:'([^']*)')re");
    for (const std::string &page : pages) {
        const std::string text = read_file(root + "/" + page);
        const size_t slash = page.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : page.substr(0, slash);
        std::vector<std::string> targets;
        for (std::sregex_iterator it(text.begin(), text.end(), attribute), end; it != end; ++it) {
            const std::string value = html_unescape((*it)[2].str());
            if ((*it)[1].str() != "srcset") {
                targets.push_back(value);
                continue;
            }
            // As a browser reads a candidate list: blanks and commas before a
            // URL are skipped, the URL ends at a blank, its descriptor at a comma.
            size_t at = 0;
            while (at < value.size()) {
                at = value.find_first_not_of(" ,", at);
                if (at == std::string::npos) break;
                const size_t url_end = std::min(value.find(' ', at), value.size());
                targets.push_back(value.substr(at, url_end - at));
                at = std::min(value.find(',', url_end), value.size());
            }
        }
        for (std::sregex_iterator it(text.begin(), text.end(), escape_key), end; it != end; ++it)
            targets.push_back((*it)[1].str());
        for (const std::string &target : targets) {
            if (target.find("://") != std::string::npos) continue;
            ++count;
            std::string path;
            struct stat status;
            if (!resolve(dir, percent_decode(target), path) ||
                stat((root + "/" + path).c_str(), &status) != 0 || !S_ISREG(status.st_mode))
                broken.push_back({page, target});
        }
    }
    if (checked) *checked = count;
    return broken;
}
