#include "album/cache_dirs.h"

#include <sys/stat.h>

#include <cerrno>

namespace {

// A symbolic link is refused like any other non-directory: whoever can
// write into the album must not make the run write or delete elsewhere.
outcome open_cache_dir(album_dirs &dirs, const derived_image &kind)
{
    const int album = dirs.album.fd.fd;
    open_dir &cache = dirs.cache[index_of(kind)];
    cache.path = join_path(dirs.album.path, kind.dir);
    struct stat status;
    if (stat_entry(album, kind.dir, status)) {
        if (!S_ISDIR(status.st_mode)) return kind.not_a_directory(cache.path);
    } else {
        if (errno != ENOENT) return message::cant_stat(cache.path);
        // Part runs side by side may all find it missing: one makes it.
        if (mkdirat(album, kind.dir, 0777) != 0 && errno != EEXIST)
            return message::cant_mkdir(cache.path);
    }
    cache.fd = unique_fd(open_dir_at(album, kind.dir));
    // Swapped for something else since it was looked at.
    if (!cache.fd) {
        if (errno == ELOOP || errno == ENOTDIR) return kind.not_a_directory(cache.path);
        return message::cant_opendir(cache.path);
    }
    return {};
}

}  // namespace

outcome open_cache_dirs(album_dirs &dirs, const settings_record &config)
{
    for (const derived_image &kind : derived_images) {
        if (!is_made(kind, config)) continue;
        outcome opened = open_cache_dir(dirs, kind);
        if (!opened.ok()) return opened;
    }
    return {};
}
