#include <cinttypes>
#include <cstdio>
#include <string>

#include "album/image_info.h"
#include "pages/escape.h"
#include "pages/pages.h"
#include "run/files.h"
#include "run/settings.h"

namespace {

// rows and columns are each a positive int32, so their product may not fit
// 32 bits: all paging arithmetic is done in 64 bits, where it cannot
// overflow for any image count an album can hold.
struct page_layout {
    int64_t capacity;  // thumbnails on a full page
    int64_t count;     // images in the album
    int64_t pages;
};

page_layout compute_layout(int64_t count)
{
    page_layout p;
    p.capacity = int64_t{settings.rows} * int64_t{settings.columns};
    p.count = count;
    p.pages = count / p.capacity + (count % p.capacity != 0 ? 1 : 0);
    return p;
}

std::string index_page_path(const std::string &album_path, int64_t page)
{
    if (page == 1) return join_path(album_path, "index.html");
    return join_path(album_path, "index" + std::to_string(page) + ".html");
}

void write_cell(std::FILE *out, const image_info &image, bool show_caption)
{
    const std::string link = url_escape(image.name);
    std::fprintf(out,
                 "<td align=\"center\">\n<a href=\"%s.html\"><img src=\".thumbs/%s\" border=\"0\" "
                 "alt=\"%s\" width=\"%d\" height=\"%d\"></a><br>\n",
                 link.c_str(), link.c_str(), html_escape(image.name).c_str(), image.thumb_width,
                 image.thumb_height);
    if (show_caption) {
        // A caption from .description is the owner's markup; the name
        // standing in for a missing one is data.
        const std::string caption =
            image.caption_from_description ? image.caption : html_escape(image.caption);
        std::fprintf(out, "<small>%s</small>\n", caption.c_str());
    } else {
        std::fprintf(out, "<small>%d x %d, %" PRId64 " KB</small>\n", image.width, image.height,
                     image.file_size / 1024);
    }
    std::fputs("<br><br>\n</td>\n", out);
}

void write_page(const std::string &album_path, std::span<const image_info> images,
                const page_layout &layout, int64_t page, const std::string &title, bool show_caption)
{
    const int64_t capacity = layout.capacity;
    const int64_t count = layout.count;
    const int64_t first = (page - 1) * capacity;
    const int64_t end = page * capacity < count ? page * capacity : count;

    output_file file = open_output(index_page_path(album_path, page));
    std::FILE *out = file.file.get();

    std::fprintf(out,
                 "<html>\n<head>\n<title>%s / %" PRId64 "</title>\n"
                 "<link rel=\"stylesheet\" type=\"text/css\" href=\"../vistrel.css\" />\n"
                 "</head>\n<body bgcolor=\"#ffffff\">\n<h1 align=\"center\">%s / %" PRId64 "</h1>\n"
                 "<table width=\"100%%\" border=\"0\">\n<tr>\n<th width=\"33%%\"><small>\n",
                 title.c_str(), page, title.c_str(), page);

    // Every page before the last is full, so the previous page always holds
    // capacity pictures.
    if (page == 2)
        std::fprintf(out, "<a href=\"index.html\">previous %" PRId64 " pictures</a>\n", capacity);
    else if (page > 2)
        std::fprintf(out, "<a href=\"index%" PRId64 ".html\">previous %" PRId64 " pictures</a>\n",
                     page - 1, capacity);

    std::fprintf(out,
                 "</small></th>\n<th width=\"34%%\"><small>\npictures %" PRId64 " - %" PRId64
                 " of %" PRId64 "\n</small></th>\n<th width=\"33%%\"><small>\n",
                 first + 1, end, count);

    if (page * capacity < count) {
        const int64_t remaining = count - page * capacity;
        std::fprintf(out, "<a href=\"index%" PRId64 ".html\">next ", page + 1);
        if (remaining == 1)
            std::fputs("picture</a>", out);
        else
            std::fprintf(out, "%" PRId64 " pictures</a>", remaining < capacity ? remaining : capacity);
    }

    std::fputs("</small></th>\n</tr>\n</table>\n<p>\n<table width=\"100%\" border=\"0\">\n", out);

    // Pages start at multiples of capacity, itself a multiple of columns, so
    // the album-wide index breaks the rows where the page-local one would.
    const int64_t columns = settings.columns;
    for (int64_t i = first; i < end; ++i) {
        if (i % columns == 0) std::fputs("<tr>\n", out);
        write_cell(out, images[static_cast<size_t>(i)], show_caption);
        if (i % columns == columns - 1 || i == count - 1) std::fputs("</tr>\n", out);
    }

    std::fprintf(out,
                 "</table>\n<p align=\"center\">\n<a href=\"../index.html\"><small>Back to gallery "
                 "index</small></a>\n</p>\n%s</body>\n</html>\n",
                 settings.page_footer.c_str());
    finish_output(file);
}

}  // namespace

int32_t write_index_pages(const std::string &album_path, std::span<const image_info> images,
                          bool show_caption)
{
    const page_layout layout = compute_layout(static_cast<int64_t>(images.size()));
    if (layout.pages <= 0) return 0;
    // The album title and -d are the owner's own markup: written unchanged.
    const std::string &title = settings.album_title ? *settings.album_title : settings.default_title;
    for (int64_t page = 1; page <= layout.pages; ++page)
        write_page(album_path, images, layout, page, title, show_caption);
    return static_cast<int32_t>(layout.pages);
}
