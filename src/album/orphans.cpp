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
int32_t remove_orphans(const open_dir &album, const derived_image &kind,
                       std::span<const image_info> images)
{
    int32_t deleted = 0;
    const std::string dir_path = join_path(album.path, kind.dir);
    // Never through a link: the deletions stay inside the album.
    const int fd = openat(album.fd.fd, kind.dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    unique_dir dir(fd >= 0 ? fdopendir(fd) : nullptr);
    if (fd >= 0 && !dir) close(fd);
    // Directories of an option's images (-2, -b) are looked after whenever
    // they exist, and only then: without it an album need not have them.
    if (!dir && kind.made_with != nullptr && errno == ENOENT) return deleted;
    if (!dir) {
        note::orphans_unreadable(dir_path);
        return deleted;
    }

    const size_t page_limit = name_limit(album.fd.fd);
    std::unordered_set<std::string_view> names;
    names.reserve(images.size());
    for (const image_info &image : images) names.insert(image.derived);

    while (const dirent *entry = readdir(dir.get())) {
        // Never a link; a type the file system does not tell is asked of the
        // entry itself.
        unsigned char type = entry->d_type;
        struct stat status;
        if (type == DT_UNKNOWN && stat_entry(dirfd(dir.get()), entry->d_name, status) &&
            S_ISREG(status.st_mode))
            type = DT_REG;
        if (type != DT_REG || !is_jpeg_name(entry->d_name)) continue;
        if (names.contains(entry->d_name)) continue;  // byte-wise, case-sensitive

        const std::string derived = join_path(dir_path, entry->d_name);
        if (unlinkat(dirfd(dir.get()), entry->d_name, 0) == 0) {
            note::deleted_orphan(derived);
            ++deleted;
        } else {
            note::orphan_kept(derived);
        }

        // The page usually went with the other cache directory's pass: silent then.
        // A HEIF photograph's page is named after the photograph, not after
        // its derived files.
        std::string photo = entry->d_name;
        if (photo.size() > 4 && photo.ends_with(".jpg") &&
            is_heif_name(std::string_view(photo).substr(0, photo.size() - 4)))
            photo.resize(photo.size() - 4);
        for (const std::string &name : photo == entry->d_name
                                           ? std::vector{photo}
                                           : std::vector{std::string(entry->d_name), photo}) {
            const std::string page = fitted_name(page_limit, name, ".html");
            if (unlinkat(album.fd.fd, page.c_str(), 0) == 0) {
                note::deleted_orphan(join_path(album.path, page));
                ++deleted;
            }
        }
    }

    if (closedir(dir.release()) != 0) note::orphans_unclosed(dir_path);
    return deleted;
}
