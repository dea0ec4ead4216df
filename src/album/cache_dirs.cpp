#include "album/cache_dirs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/photo_names.h"

namespace {

// The album's own doing, not the system's: the album is left out, the
// others go on.
failure album_at_fault(failure error)
{
    error.kind = failure_kind::bad_album;
    return error;
}

// Permission refused inside the album (errno `cause`) is the album's:
// whoever set it up shut the run out of it.
failure album_refused(failure error, int cause)
{
    return cause == EACCES || cause == EPERM ? album_at_fault(std::move(error)) : error;
}

// A symbolic link is refused like any other non-directory: whoever can
// write into the album must not make the run write or delete elsewhere.
outcome open_cache_dir(album_dirs &dirs, const derived_image &kind)
{
    const int album = dirs.album.fd.fd;
    open_dir &cache = dirs.cache[index_of(kind)];
    cache.path = join_path(dirs.album.path, kind.dir);
    struct stat status;
    if (stat_entry(album, kind.dir, status)) {
        if (!S_ISDIR(status.st_mode)) return album_at_fault(kind.not_a_directory(cache.path));
    } else {
        if (const int cause = errno; cause != ENOENT)
            return album_refused(message::cant_stat(cache.path), cause);
        // Part runs side by side may all find it missing: one makes it.
        if (mkdirat(album, kind.dir, 0777) != 0 && errno != EEXIST) {
            const int cause = errno;
            return album_refused(message::cant_mkdir(cache.path), cause);
        }
    }
    cache.fd = unique_fd(open_dir_at(album, kind.dir));
    // Swapped for something else since it was looked at.
    if (!cache.fd) {
        if (errno == ELOOP || errno == ENOTDIR)
            return album_at_fault(kind.not_a_directory(cache.path));
        const int cause = errno;
        return album_refused(message::cant_opendir(cache.path), cause);
    }
    return {};
}

// Whether name is one open_output gives a derived file while it is being
// written: "<derived name><run tag>.tmp", or that shortened by fitted_name
// to the directory's limit ("~", 16 hex digits, run tag, ".tmp"); or the
// same without the run tag, as earlier versions named them.
bool is_temporary_name(std::string_view name, size_t limit)
{
    if (!name.ends_with(".tmp")) return false;
    std::string_view stem = name.substr(0, name.size() - 4);
    if (stem.size() > 9 && is_run_tag(stem.substr(stem.size() - 9))) stem.remove_suffix(9);
    if (is_jpeg_name(stem)) return true;
    if (stem.size() < 17 || name.size() + 3 < limit) return false;
    return is_name_tag(stem.substr(stem.size() - 17));
}

// A full run holds the gallery's lock alone, so a temporary file in a cache
// directory is no one's work in progress: a run killed while writing left
// it. Parts share the lock, so a part leaves them for the full run. Only
// regular files of that exact name form go; nothing is followed.
void remove_leftovers(const open_dir &cache)
{
    // What cannot be listed is left for the run's own work to meet.
    const result<std::vector<dir_entry>> listed = list_directory(cache, message::cant_closedir);
    if (!listed.ok()) return;
    const size_t limit = name_limit(cache.fd.fd);
    for (const dir_entry &entry : *listed)
        if (entry.type == DT_REG && is_temporary_name(entry.name, limit))
            unlinkat(cache.fd.fd, entry.name.c_str(), 0);
}

}  // namespace

outcome open_cache_dirs(album_dirs &dirs, const settings_record &config)
{
    for (const derived_image &kind : derived_images) {
        if (!is_made(kind, config)) continue;
        outcome opened = open_cache_dir(dirs, kind);
        if (!opened.ok()) return opened;
        if (config.part.count == 0) remove_leftovers(dirs.cache[index_of(kind)]);
    }
    return {};
}
