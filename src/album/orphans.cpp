#include "album/orphans.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <unordered_set>

#include "base/messages.h"
#include "base/photo_names.h"

// Orphan removal only reports: a cache directory it cannot read or a file
// it cannot delete never ends the run, and its lines carry no program name.
void remove_orphans(const open_dir &album, const derived_image &kind,
                    std::span<const image_info> images)
{
    // Never through a link: the deletions stay inside the album.
    open_dir cache{unique_fd(open_dir_at(album.fd.fd, kind.dir)), join_path(album.path, kind.dir)};
    const std::string &dir_path = cache.path;
    // Double-density directories are looked after whenever they exist, and
    // only then: without -2 an album need not have them.
    if (!cache.fd && kind.doubles >= 0 && errno == ENOENT) return;
    if (!cache.fd) {
        note::orphans_unreadable(dir_path);
        return;
    }
    // The one listing loop, errors checked; the pass only reports them.
    const result<std::vector<dir_entry>> listed = list_directory(cache, message::cant_closedir);
    if (!listed.ok()) {
        if (listed.error().text.starts_with("can't closedir("))
            note::orphans_unclosed(dir_path);
        else
            note::orphans_unreadable(dir_path);
        return;
    }

    const size_t page_limit = name_limit(album.fd.fd);
    std::unordered_set<std::string_view> names;
    names.reserve(images.size());
    for (const image_info &image : images) names.insert(image.derived);

    for (const dir_entry &entry : *listed) {
        if (entry.type != DT_REG || !is_jpeg_name(entry.name)) continue;
        if (names.contains(entry.name)) continue;  // byte-wise, case-sensitive

        const std::string derived = join_path(dir_path, entry.name);
        if (unlinkat(cache.fd.fd, entry.name.c_str(), 0) == 0)
            note::deleted_orphan(derived);
        else
            note::orphan_kept(derived);

        // The page usually went with the other cache directory's pass: silent then.
        // A HEIF photograph's page is named after the photograph, not after
        // its derived files.
        std::string photo = entry.name;
        if (photo.size() > 4 && photo.ends_with(".jpg") &&
            is_heif_name(std::string_view(photo).substr(0, photo.size() - 4)))
            photo.resize(photo.size() - 4);
        for (const std::string &name :
             photo == entry.name ? std::vector{photo} : std::vector{entry.name, photo}) {
            const std::string page = fitted_name(page_limit, name, ".html");
            if (unlinkat(album.fd.fd, page.c_str(), 0) == 0)
                note::deleted_orphan(join_path(album.path, page));
        }
    }
}
