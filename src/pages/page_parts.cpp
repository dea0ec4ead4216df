#include "pages/page_parts.h"

#include "pages/escape.h"

int64_t index_page_capacity(const settings_record &config)
{
    return int64_t{config.rows} * int64_t{config.columns};
}

std::string index_page_name(int64_t page)
{
    if (page == 1) return "index.html";
    return "index" + std::to_string(page) + ".html";
}

std::string candidate_url(const derived_image &kind, const std::string &name,
                          const std::string &album_dir)
{
    std::string url;
    if (!album_dir.empty()) {
        url += url_escape(album_dir);
        url += '/';
    }
    url += kind.dir;
    url += '/';
    url += url_escape(name);
    // Within a candidate list a blank ends the URL and commas before it are
    // skipped: both are encoded there.
    std::string encoded;
    for (const char c : url) {
        if (c == ' ')
            encoded += "%20";
        else if (c == ',' && encoded.empty())
            encoded += "%2C";
        else
            encoded += c;
    }
    return encoded;
}

std::string srcset(const derived_image &doubled, const settings_record &config,
                   const std::string &name, const std::string &album_dir)
{
    if (!is_made(doubled, config)) return {};
    return " srcset=\"" + candidate_url(doubled, name, album_dir) + " 2x\"";
}

std::string caption_html(const image_info &image)
{
    return image.caption_from_description ? image.caption : html_escape(image.caption);
}
