#include "pages/gallery_page.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "pages/escape.h"
#include "pages/page_parts.h"

namespace {

// The width a cover is shown at, as the stylesheet lays out the album
// cards: the whole width of a phone's screen but the page's margins, else
// a card of 16em. The sample stylesheet must agree with it.
constexpr const char cover_sizes[] = "(max-width: 40em) calc(100vw - 1.5em), 16em";

// Every derived image of the cover, offered by width so that the browser
// takes the smallest that is sharp at the card's size and the screen's
// density: the thumbnail where it will do, the scaled image on a phone.
std::string cover_img(const std::string &dir_name, const image_info &cover,
                      const settings_record &config)
{
    const std::string list = width_candidates(
        {&thumbnail, &scaled_image, &thumbnail_2x, &scaled_image_2x}, cover, config, dir_name);
    const std::string album = url_escape(dir_name);
    return "<img class=\"albumcover\" src=\"" + album + '/' + scaled_image.dir + '/' +
           url_escape(cover.derived) + "\" srcset=\"" + list + "\" sizes=\"" + cover_sizes +
           "\" width=\"" + std::to_string(cover.size(scaled_image.kind).width) + "\" height=\"" +
           std::to_string(cover.size(scaled_image.kind).height) + "\" loading=\"lazy\" alt=\"\">";
}

}  // namespace

result<output_file> open_gallery_page(const open_dir &gallery, const settings_record &config)
{
    result<output_file> page = open_output(gallery, "index.html");
    if (!page.ok()) return page;
    const char *title = config.default_title.c_str();
    std::fprintf(
        page->stream(),
        "%s<title>%s</title>\n"
        "<link rel=\"stylesheet\" type=\"text/css\" href=\"vistrel.css\" />\n"
        "</head>\n<body>\n<h1 class=\"galleryheadline\">%s</h1>\n<ul class=\"albumlist\">\n",
        page_head_start, title, title);
    return page;
}

void write_album_item(output_file &page, const std::string &dir_name,
                      const std::optional<std::string> &title, int32_t images,
                      const std::optional<image_info> &cover, const settings_record &config)
{
    std::FILE *out = page.stream();
    // A title from .description is the owner's markup; a directory name is data.
    const std::string shown = title ? *title : html_escape(dir_name);
    const char *plural = images == 1 ? "" : "s";
    // An album without images has no index page to lead to.
    if (images == 0) {
        std::fprintf(out, "<li class=\"albumitem\">%s (%d image%s)\n", shown.c_str(), images,
                     plural);
        return;
    }
    const std::string album = url_escape(dir_name);
    std::fprintf(out, "<li class=\"albumitem\"><a href=\"%s/index.html\">", album.c_str());
    if (config.album_covers && cover) std::fputs(cover_img(dir_name, *cover, config).c_str(), out);
    std::fprintf(out, "%s</a> (%d image%s)\n", shown.c_str(), images, plural);
}

outcome finish_gallery_page(output_file &page, const std::string &footer)
{
    std::fprintf(page.stream(), "</ul>\n%s</body>\n</html>\n", footer.c_str());
    return finish_output(page);
}
