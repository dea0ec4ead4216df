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

std::string srcset(const derived_image &doubled, const settings_record &config, const std::string &name,
                   const std::string &album_dir)
{
    if (!is_made(doubled, config)) return {};
    std::string url;
    if (!album_dir.empty()) {
        url += url_escape(album_dir);
        url += '/';
    }
    url += doubled.dir;
    url += '/';
    url += url_escape(name);
    // A blank would end the URL within the candidate list: encoded there too.
    std::string attribute = " srcset=\"";
    for (const char c : url) {
        if (c == ' ')
            attribute += "%20";
        else
            attribute += c;
    }
    attribute += " 2x\"";
    return attribute;
}

std::string caption_html(const image_info &image)
{
    return image.caption_from_description ? image.caption : html_escape(image.caption);
}
