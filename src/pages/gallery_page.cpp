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

// The most cards a row holds: the page's 78em less its margins takes four
// of 16em and their gaps.
constexpr size_t first_row_cards = 4;

// Every derived image of the cover, offered by width so that the browser
// takes the smallest that is sharp at the card's size and the screen's
// density: the thumbnail where it will do, the scaled image on a phone.
// album_dir is the path of the cover's album from the page.
// With -R, the .big file too (-b): a portrait cover, cut to the card's
// shape, needs more than the scaled image on a phone of density 3. And the
// covers of the first row are not lazy: one of them is what a phone paints
// largest first, and a lazy image waits for the layout.
std::string cover_img(const std::string &album_dir, const image_info &cover, bool first_row,
                      const settings_record &config)
{
    const std::string list =
        config.album_tree
            ? width_candidates({&thumbnail, &scaled_image, &thumbnail_2x, &scaled_image_2x,
                                &big_image},
                               cover, config, album_dir)
            : width_candidates({&thumbnail, &scaled_image, &thumbnail_2x, &scaled_image_2x}, cover,
                               config, album_dir);
    const std::string album = url_escape(album_dir);
    const bool eager = config.album_tree && first_row;
    return "<img class=\"albumcover\" src=\"" + album + '/' + scaled_image.dir + '/' +
           url_escape(cover.derived) + "\" srcset=\"" + list + "\" sizes=\"" + cover_sizes +
           "\" width=\"" + std::to_string(cover.size(scaled_image.kind).width) + "\" height=\"" +
           std::to_string(cover.size(scaled_image.kind).height) + '"' +
           (eager ? "" : " loading=\"lazy\"") + " alt=\"\">";
}

// "12 images"; with albums below it (-R), "12 photos, 3 albums".
std::string count_text(const album_card &card)
{
    const char *plural = card.images == 1 ? "" : "s";
    if (card.albums == 0) return std::to_string(card.images) + " image" + plural;
    return std::to_string(card.images) + " photo" + plural + ", " + std::to_string(card.albums) +
           " album" + (card.albums == 1 ? "" : "s");
}

void write_item(std::FILE *out, const album_card &card, bool first_row,
                const settings_record &config)
{
    // A title from .description is the owner's markup; a directory name is data.
    const std::string shown = card.title ? *card.title : html_escape(card.dir_name);
    const std::string count = count_text(card);
    // An album without images has no index page to lead to.
    if (card.images == 0) {
        std::fprintf(out, "<li class=\"albumitem\">%s (%s)\n", shown.c_str(), count.c_str());
        return;
    }
    const std::string album = url_escape(card.dir_name);
    std::fprintf(out, "<li class=\"albumitem\"><a href=\"%s/index.html\">", album.c_str());
    if (config.album_covers && card.cover) {
        const std::string cover_dir = card.cover_dir.empty() ? card.dir_name
                                                             : card.dir_name + '/' + card.cover_dir;
        std::fputs(cover_img(cover_dir, *card.cover, first_row, config).c_str(), out);
    }
    std::fprintf(out, "%s</a> (%s)\n", shown.c_str(), count.c_str());
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

void write_album_item(output_file &page, const album_card &card, size_t position,
                      const settings_record &config)
{
    write_item(page.stream(), card, position < first_row_cards, config);
}

void write_album_cards(std::FILE *out, std::span<const album_card> cards,
                       const settings_record &config)
{
    if (cards.empty()) return;
    std::fputs("<ul class=\"albumlist\">\n", out);
    for (size_t i = 0; i < cards.size(); ++i)
        write_item(out, cards[i], i < first_row_cards, config);
    std::fputs("</ul>\n", out);
}

outcome finish_gallery_page(output_file &page, const std::string &footer)
{
    std::fprintf(page.stream(), "</ul>\n%s</body>\n</html>\n", footer.c_str());
    return finish_output(page);
}
