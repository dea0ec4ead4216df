#include "run/gallery.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "album/album.h"
#include "base/fatal.h"
#include "base/files.h"
#include "base/ordered_jobs.h"
#include "base/settings.h"
#include "pages/gallery_page.h"
#include "run/command_line.h"

namespace {

bool is_album(const dir_entry &entry) { return entry.type == DT_DIR && entry.name[0] != '.'; }

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

// The gallery's entries in name order.
std::vector<dir_entry> list_gallery(const std::string &gallery_path)
{
    std::vector<dir_entry> entries = list_directory(gallery_path, "can't closedir(%s)");
    std::sort(entries.begin(), entries.end(), [](const dir_entry &a, const dir_entry &b) {
        return std::strcoll(a.name.c_str(), b.name.c_str()) < 0;
    });
    return entries;
}

// One run at a time per gallery: two would write the same temporary files.
// The lock is on the gallery directory itself, so nothing is written for
// it, and it ends with the process however that ends. A gallery that cannot
// be opened for it is run unlocked, to fail where it always has.
void lock_gallery(const std::string &gallery_path)
{
    const int fd = open(gallery_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        fatal("'%s' is being updated by another run\n", gallery_path.c_str());
    // Kept open, and so locked, until the process ends.
}

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
    lock_gallery(gallery_path);
    const std::string footer = build_page_footer();
    if (!gallery_path.empty() && gallery_path.back() == '/') gallery_path.pop_back();

    output_file page = open_gallery_page(gallery_path);
    int32_t albums = 0;
    for (const dir_entry &entry : list_gallery(gallery_path)) {
        if (!is_album(entry)) continue;
        const std::string album_path = join_path(gallery_path, entry.name);
        report_out("Directory %s\n", album_path.c_str());
        const album_result album = process_album(album_path, footer);
        write_album_item(page, entry.name, album.title, album.images, album.cover);
        ++albums;
    }
    finish_gallery_page(page, footer);

    report_out("%d album%s processed.\n", albums, albums == 1 ? "" : "s");
    std::exit(0);
}
