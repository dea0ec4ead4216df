#include "pages/index_pages.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "base/derived_images.h"
#include "base/files.h"
#include "pages/escape.h"
#include "pages/page_parts.h"

namespace {

// All paging arithmetic is done in 64 bits, where it cannot overflow for
// any image count an album can hold.
struct page_layout {
    int64_t capacity;  // thumbnails on a full page
    int64_t count;     // images in the album
    int64_t pages;
};

page_layout compute_layout(int64_t count, const settings_record &config)
{
    page_layout p;
    p.capacity = index_page_capacity(config);
    p.count = count;
    p.pages = count / p.capacity + (count % p.capacity != 0 ? 1 : 0);
    return p;
}

void write_cell(std::FILE *out, const image_info &image, const settings_record &config)
{
    const std::string link = url_escape(image.derived);
    // -V: a video's thumbnail carries the play mark and its duration.
    const std::string video_mark = image.video ? " class=\"video\" data-duration=\"" +
                                                     (image.video->duration_ms > 0
                                                          ? duration_text(image.video->duration_ms)
                                                          : std::string("video")) +
                                                     '"'
                                               : std::string();
    std::fprintf(out,
                 "<td align=\"center\">\n<a href=\"%s\"%s><img src=\"%s/%s\"%s border=\"0\" "
                 "alt=\"%s\" width=\"%d\" height=\"%d\"></a><br>\n",
                 url_escape(image.page).c_str(), video_mark.c_str(), thumbnail.dir, link.c_str(),
                 srcset(thumbnail_2x, config, image).c_str(), html_escape(image.name).c_str(),
                 image.size(thumbnail.kind).width, image.size(thumbnail.kind).height);
    if (config.show_caption) {
        std::fprintf(out, "<small>%s</small>\n", caption_html(image).c_str());
    } else {
        std::fprintf(out, "<small>%d x %d, %" PRId64 " KB</small>\n", image.width, image.height,
                     image.file_size / 1024);
    }
    std::fputs("<br><br>\n</td>\n", out);
}

// -n: up to this many pages, every one is listed by its number.
constexpr int64_t whole_page_list = 9;
// Beyond it, the first and last pages and these many on either side of the
// current one; each run of pages left out is one ellipsis, so a list has at
// most nine entries however long the album.
constexpr int64_t page_list_reach = 2;

// -n: the album's pages by number, each a link, the current one in bold.
void write_page_list(std::FILE *out, const page_layout &layout, int64_t page,
                     const settings_record &config)
{
    if (!config.page_numbers || layout.pages < 2) return;
    const int64_t last = layout.pages;
    const bool whole = last <= whole_page_list;
    const int64_t from = whole ? 1 : std::max(page - page_list_reach, int64_t{1});
    const int64_t to = whole ? last : std::min(page + page_list_reach, last);
    const auto number = [&](int64_t p) {
        if (p > 1) std::fputc(' ', out);
        if (p == page)
            std::fprintf(out, "<b>%" PRId64 "</b>", p);
        else
            std::fprintf(out, "<a href=\"%s\">%" PRId64 "</a>", index_page_name(p).c_str(), p);
    };
    const char *gap = " <span class=\"gap\">&hellip;</span>";

    std::fputs("<p class=\"pagelist\">", out);
    if (from > 1) number(1);
    if (from > 2) std::fputs(gap, out);
    for (int64_t p = from; p <= to; ++p) number(p);
    if (to < last - 1) std::fputs(gap, out);
    if (to < last) number(last);
    std::fputs("</p>\n", out);
}

// What every index page of one album shares.
struct album_index {
    const std::string &title;
    const std::string &footer;
    const album_place &place;
    std::span<const album_card> sub_albums;
};

// The way back up and the footer, and the page into place.
outcome finish_page(std::FILE *out, output_file &file, const album_place &place,
                    const std::string &footer)
{
    // Below the top level, up is the album that lists this one.
    const char *back = place.depth > 1 ? "Back to the album above" : "Back to gallery index";
    std::fprintf(out,
                 "<p align=\"center\">\n<a href=\"../index.html\"><small>%s</small></a>\n</p>\n"
                 "%s</body>\n</html>\n",
                 back, footer.c_str());
    return finish_output(file);
}

outcome write_page(const open_dir &album, std::span<const image_info> images,
                   const page_layout &layout, int64_t page, const album_index &index,
                   const settings_record &config)
{
    const std::string &title = index.title;
    const std::string &footer = index.footer;
    const int64_t capacity = layout.capacity;
    const int64_t count = layout.count;
    const int64_t first = (page - 1) * capacity;
    const int64_t end = page * capacity < count ? page * capacity : count;

    result<output_file> file = open_output(album, index_page_name(page));
    if (!file.ok()) return file.error();
    std::FILE *out = file->stream();

    std::fprintf(out,
                 "%s<title>%s / %" PRId64 "</title>\n"
                 "<link rel=\"stylesheet\" type=\"text/css\" href=\"%svistrel.css\" />\n",
                 page_head_start, title.c_str(), page, up_path(index.place.depth).c_str());
    if (std::any_of(images.begin() + first, images.begin() + end,
                    [](const image_info &image) { return image.video.has_value(); }))
        std::fputs(video_style, out);
    // -R: Escape goes up to the page that lists the album.
    const std::string parent = config.album_tree ? "../index.html" : std::string();
    if (config.arrow_keys)
        std::fputs(key_navigation(page > 1 ? index_page_name(page - 1) : std::string(),
                                  page < layout.pages ? index_page_name(page + 1) : std::string(),
                                  {}, parent)
                       .c_str(),
                   out);
    std::fprintf(out,
                 "</head>\n<body bgcolor=\"#ffffff\">\n%s<h1 align=\"center\">%s / %" PRId64
                 "</h1>\n",
                 breadcrumbs(index.place, config, false).c_str(), title.c_str(), page);
    // Sub-albums first, on the first page.
    if (page == 1) write_album_cards(out, index.sub_albums, config);
    if (count == 0) return finish_page(out, *file, index.place, footer);
    std::fputs("<table width=\"100%\" border=\"0\">\n<tr>\n<th width=\"33%\"><small>\n", out);

    // Every page before the last is full, so the previous page always holds
    // capacity pictures.
    if (page > 1)
        std::fprintf(out, "<a href=\"%s\">previous %" PRId64 " pictures</a>\n",
                     index_page_name(page - 1).c_str(), capacity);

    std::fprintf(out,
                 "</small></th>\n<th width=\"34%%\"><small>\npictures %" PRId64 " - %" PRId64
                 " of %" PRId64 "\n</small></th>\n<th width=\"33%%\"><small>\n",
                 first + 1, end, count);

    if (page * capacity < count) {
        const int64_t remaining = count - page * capacity;
        std::fprintf(out, "<a href=\"%s\">next ", index_page_name(page + 1).c_str());
        if (remaining == 1)
            std::fputs("picture</a>", out);
        else
            std::fprintf(out, "%" PRId64 " pictures</a>",
                         remaining < capacity ? remaining : capacity);
    }

    std::fputs("</small></th>\n</tr>\n</table>\n", out);
    write_page_list(out, layout, page, config);
    std::fputs("<p>\n<table width=\"100%\" border=\"0\">\n", out);

    // Pages start at multiples of capacity, itself a multiple of columns, so
    // the album-wide index breaks the rows where the page-local one would.
    const int64_t columns = config.columns;
    for (int64_t i = first; i < end; ++i) {
        if (i % columns == 0) std::fputs("<tr>\n", out);
        write_cell(out, images[static_cast<size_t>(i)], config);
        if (i % columns == columns - 1 || i == count - 1) std::fputs("</tr>\n", out);
    }

    std::fputs("</table>\n", out);
    write_page_list(out, layout, page, config);
    return finish_page(out, *file, index.place, footer);
}

}  // namespace

result<int32_t> write_index_pages(const open_dir &album, std::span<const image_info> images,
                                  const std::string &title, const std::string &footer,
                                  const settings_record &config, const album_place &place,
                                  std::span<const album_card> sub_albums)
{
    page_layout layout = compute_layout(static_cast<int64_t>(images.size()), config);
    // Sub-albums and no images: one page, of the sub-albums.
    if (layout.pages <= 0 && !sub_albums.empty()) layout.pages = 1;
    if (layout.pages <= 0) return 0;
    const album_index index{title, footer, place, sub_albums};
    for (int64_t page = 1; page <= layout.pages; ++page) {
        outcome written = write_page(album, images, layout, page, index, config);
        if (!written.ok()) return written.error();
    }
    return static_cast<int32_t>(layout.pages);
}
