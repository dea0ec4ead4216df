#include "pages/gallery_page.h"

#include <cstdio>

#include "base/settings.h"
#include "pages/escape.h"

output_file open_gallery_page(const std::string &gallery_path)
{
    output_file page =
        open_output(join_path(gallery_path, "index.html"), "can't fopen(%s)", parent_link::follow);
    const char *title = settings.default_title.c_str();
    std::fprintf(page.file.get(),
                 "<html>\n<head>\n<title>%s</title>\n"
                 "<link rel=\"stylesheet\" type=\"text/css\" href=\"vistrel.css\" />\n"
                 "</head>\n<body>\n<h1 class=\"galleryheadline\">%s</h1>\n<ul class=\"albumlist\">\n",
                 title, title);
    return page;
}

void write_album_item(output_file &page, const std::string &dir_name,
                      const std::optional<std::string> &title, int32_t images)
{
    // A title from .description is the owner's markup; a directory name is data.
    const std::string shown = title ? *title : html_escape(dir_name);
    std::fprintf(page.file.get(), "<li class=\"albumitem\"><a href=\"%s/index.html\">%s</a> (%d image%s)\n",
                 url_escape(dir_name).c_str(), shown.c_str(), images, images == 1 ? "" : "s");
}

void finish_gallery_page(output_file &page, const std::string &footer)
{
    std::fprintf(page.file.get(), "</ul>\n%s</body>\n</html>\n", footer.c_str());
    finish_output(page);
}
