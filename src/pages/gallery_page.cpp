#include "pages/gallery_page.h"

#include <cstdio>

#include "pages/escape.h"
#include "pages/page_parts.h"

result<output_file> open_gallery_page(const open_dir &gallery, const settings_record &config)
{
    result<output_file> page = open_output(gallery, "index.html");
    if (!page.ok()) return page;
    const char *title = config.default_title.c_str();
    std::fprintf(page->stream(),
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
        std::fprintf(out, "<li class=\"albumitem\">%s (%d image%s)\n", shown.c_str(), images, plural);
        return;
    }
    const std::string album = url_escape(dir_name);
    std::fprintf(out, "<li class=\"albumitem\"><a href=\"%s/index.html\">", album.c_str());
    if (config.album_covers && cover) {
        std::fprintf(out, "<img class=\"albumcover\" src=\"%s/%s/%s\"%s width=\"%d\" height=\"%d\" alt=\"\">",
                     album.c_str(), thumbnail.dir, url_escape(cover->name).c_str(),
                     srcset(thumbnail_2x, config, cover->name, dir_name).c_str(), (*cover).*thumbnail.width,
                     (*cover).*thumbnail.height);
    }
    std::fprintf(out, "%s</a> (%d image%s)\n", shown.c_str(), images, plural);
}

outcome finish_gallery_page(output_file &page, const std::string &footer)
{
    std::fprintf(page.stream(), "</ul>\n%s</body>\n</html>\n", footer.c_str());
    return finish_output(page);
}
