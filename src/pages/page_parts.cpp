#include "pages/page_parts.h"

#include "base/settings.h"
#include "pages/escape.h"

int64_t index_page_capacity() { return int64_t{settings.rows} * int64_t{settings.columns}; }

std::string index_page_name(int64_t page)
{
    if (page == 1) return "index.html";
    return "index" + std::to_string(page) + ".html";
}

std::string caption_html(const image_info &image)
{
    return image.caption_from_description ? image.caption : html_escape(image.caption);
}
