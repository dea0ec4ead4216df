#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "album/image_info.h"
#include "pages/escape.h"
#include "run/fatal.h"
#include "run/files.h"
#include "run/settings.h"

namespace {

struct gallery_entry {
    std::string name;
    unsigned char type;  // as the listing reports it; links are not followed
};

int compare_entry_name(const gallery_entry &a, const gallery_entry &b)
{
    return std::strcoll(a.name.c_str(), b.name.c_str());
}

bool is_album(const gallery_entry &entry)
{
    return entry.type == DT_DIR && entry.name[0] != '.';
}

std::string build_page_footer()
{
    const std::time_t now = std::time(nullptr);
    const char *when = std::ctime(&now);  // 24 characters and a newline
    std::string footer = "<hr />\n<div class=\"generated\">Web gallery generated ";
    footer += when ? when : "";
    footer += " with <a href=\"";
    footer += vistrel_home_page;
    footer += "\">vistrel ";
    footer += vistrel_version;
    footer += "</a></div>\n";
    return footer;
}

std::vector<gallery_entry> list_gallery(const std::string &gallery_path)
{
    unique_dir dir(opendir(gallery_path.c_str()));
    if (!dir) fatal_errno("can't opendir(%s)", gallery_path.c_str());
    std::vector<gallery_entry> entries;
    errno = 0;
    while (const dirent *entry = readdir(dir.get())) {
        entries.push_back({entry->d_name, entry->d_type});
        errno = 0;
    }
    if (errno != 0) fatal_errno("can't readdir(%s)", gallery_path.c_str());
    if (closedir(dir.release()) != 0) fatal_errno("can't closedir(%s)", gallery_path.c_str());
    std::sort(entries.begin(), entries.end(),
              [](const gallery_entry &a, const gallery_entry &b) { return compare_entry_name(a, b) < 0; });
    return entries;
}

const char *plural(int32_t n) { return n == 1 ? "" : "s"; }

}  // namespace

void run_gallery(std::string gallery_path)
{
    struct stat status;
    if (stat(gallery_path.c_str(), &status) != 0) fatal_errno("can't stat(%s)", gallery_path.c_str());
    if (!S_ISDIR(status.st_mode)) {
        std::fprintf(stderr, "%s: '%s' is not a directory\n", settings.progname.c_str(),
                     gallery_path.c_str());
        usage();
    }
    settings.page_footer = build_page_footer();
    if (!gallery_path.empty() && gallery_path.back() == '/') gallery_path.pop_back();

    output_file page = open_output(gallery_path + "/index.html");
    std::FILE *out = page.file.get();
    const char *title = settings.default_title.c_str();
    std::fprintf(out,
                 "<html>\n<head>\n<title>%s</title>\n"
                 "<link rel=\"stylesheet\" type=\"text/css\" href=\"vistrel.css\" />\n"
                 "</head>\n<body>\n<h1 class=\"galleryheadline\">%s</h1>\n<ul class=\"albumlist\">\n",
                 title, title);

    int32_t albums = 0;
    for (const gallery_entry &entry : list_gallery(gallery_path)) {
        if (!is_album(entry)) continue;
        const std::string album_path = join_path(gallery_path, entry.name);
        std::printf("Directory %s\n", album_path.c_str());
        const int32_t images = process_album(album_path);
        // A title from .description is the owner's markup; a directory name is data.
        const std::string shown =
            settings.album_title ? *settings.album_title : html_escape(entry.name);
        std::fprintf(out, "<li class=\"albumitem\"><a href=\"%s/index.html\">%s</a> (%d image%s)\n",
                     url_escape(entry.name).c_str(), shown.c_str(), images, plural(images));
        ++albums;
    }
    std::fprintf(out, "</ul>\n%s</body>\n</html>\n", settings.page_footer.c_str());
    finish_output(page);

    std::printf("%d album%s processed.\n", albums, plural(albums));
    std::exit(0);
}
