#include "album/orphans.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <unordered_set>

#include "album/messages.h"
#include "base/photo_names.h"
#include "pages/page_parts.h"

namespace {

// The page of the HEIF photograph whose derived name is `derived`, when
// that name was shortened (fitted_name): the photograph's name is gone, but
// its page, shortened from the same name, carries the same tag after a
// prefix one byte shorter, cut back to the start of a character as
// fitted_name cuts. Empty for any other name.
std::string shortened_heif_page(size_t limit, std::string_view derived)
{
    if (!derived.ends_with(".jpg") || derived.size() < 21 || derived.size() + 3 < limit) return {};
    const std::string_view prefix = derived.substr(0, derived.size() - 21);
    const std::string_view tag = derived.substr(derived.size() - 21, 17);
    if (!is_name_tag(tag) || limit < 22) return {};
    size_t cut = std::min(prefix.size(), limit - 22);
    while (cut > 0 && cut < prefix.size() &&
           (static_cast<unsigned char>(prefix[cut]) & 0xC0) == 0x80)
        --cut;
    std::string page(prefix.substr(0, cut));
    page += tag;
    page += ".html";
    return page;
}

}  // namespace

// Orphan removal only reports: a cache directory it cannot read or a file
// it cannot delete never ends the run, and its lines carry no program name.
int32_t remove_orphans(const open_dir &album, const derived_image &kind,
                       std::span<const image_info> images)
{
    int32_t deleted = 0;
    // Never through a link: the deletions stay inside the album.
    open_dir cache{unique_fd(open_dir_at(album.fd.fd, kind.dir)), join_path(album.path, kind.dir)};
    const std::string &dir_path = cache.path;
    // Directories of an option's images (-2, -b) are looked after whenever
    // they exist, and only then: without it an album need not have them.
    if (!cache.fd && kind.made_with != nullptr && errno == ENOENT) return deleted;
    if (!cache.fd) {
        note::orphans_unreadable(dir_path);
        return deleted;
    }
    // The one listing loop, errors checked; the pass only reports them.
    const result<std::vector<dir_entry>> listed = list_directory(cache, message::cant_closedir);
    if (!listed.ok()) {
        if (listed.error().kind == failure_kind::not_closed)
            note::orphans_unclosed(dir_path);
        else
            note::orphans_unreadable(dir_path);
        return deleted;
    }

    const size_t page_limit = name_limit(album.fd.fd);
    std::unordered_set<std::string_view> names, pages;
    names.reserve(images.size());
    pages.reserve(images.size());
    for (const image_info &image : images) {
        names.insert(image.derived);
        pages.insert(image.page);
    }

    for (const dir_entry &entry : *listed) {
        if (entry.type != DT_REG || !is_jpeg_name(entry.name)) continue;
        if (names.contains(entry.name)) continue;  // byte-wise, case-sensitive

        const std::string derived = join_path(dir_path, entry.name);
        if (unlinkat(cache.fd.fd, entry.name.c_str(), 0) == 0) {
            note::deleted_orphan(derived);
            ++deleted;
        } else {
            note::orphan_kept(derived);
        }

        // The page usually went with the other cache directory's pass: silent then.
        // A HEIF photograph's or a video's page is named after it, not
        // after its derived files.
        std::string photo = entry.name;
        if (photo.size() > 4 && photo.ends_with(".jpg") &&
            (is_heif_name(std::string_view(photo).substr(0, photo.size() - 4)) ||
             is_video_name(std::string_view(photo).substr(0, photo.size() - 4))))
            photo.resize(photo.size() - 4);
        std::vector<std::string> orphan_pages;
        for (const std::string &name :
             photo == entry.name ? std::vector{photo} : std::vector{entry.name, photo})
            orphan_pages.push_back(fitted_name(page_limit, name, ".html"));
        if (std::string page = shortened_heif_page(page_limit, entry.name); !page.empty())
            orphan_pages.push_back(std::move(page));
        for (const std::string &page : orphan_pages) {
            if (pages.contains(page)) continue;  // a photograph still here
            if (unlinkat(album.fd.fd, page.c_str(), 0) == 0) {
                note::deleted_orphan(join_path(album.path, page));
                ++deleted;
            }
        }
    }
    return deleted;
}

int32_t remove_index_pages(const open_dir &album, int32_t kept)
{
    int32_t deleted = 0;
    // The pages were written one after another from the first: the first
    // missing one past those kept is the end of them.
    for (int64_t page = int64_t{kept} + 1;; ++page) {
        const std::string name = page == 1 ? "index.html"
                                           : "index" + std::to_string(page) + ".html";
        struct stat status;
        if (!stat_entry(album.fd.fd, name, status) || !S_ISREG(status.st_mode)) break;
        const std::string path = join_path(album.path, name);
        if (unlinkat(album.fd.fd, name.c_str(), 0) != 0) {
            note::orphan_kept(path);
            break;
        }
        note::deleted_orphan(path);
        ++deleted;
    }
    return deleted;
}
