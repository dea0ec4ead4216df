#include "pages/page_parts.h"

#include "base/settings.h"
#include "pages/escape.h"

int64_t index_page_capacity() { return int64_t{settings.rows} * int64_t{settings.columns}; }

std::string index_page_name(int64_t page)
{
    if (page == 1) return "index.html";
    return "index" + std::to_string(page) + ".html";
}

std::string srcset(const derived_image &doubled, const std::string &name)
{
    if (!is_made(doubled)) return {};
    // A blank would end the URL within the candidate list: encoded there too.
    std::string link;
    for (const char c : url_escape(name)) {
        if (c == ' ')
            link += "%20";
        else
            link += c;
    }
    return std::string(" srcset=\"") + doubled.dir + "/" + link + " 2x\"";
}

std::string caption_html(const image_info &image)
{
    return image.caption_from_description ? image.caption : html_escape(image.caption);
}
