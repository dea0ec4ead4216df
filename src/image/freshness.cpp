#include "image/freshness.h"

#include <cerrno>
#include <cstdint>

result<bool> is_fresh(const open_dir &cache, const std::string &name, const struct stat &source)
{
    // A link is never fresh, so the next write replaces the link itself.
    struct stat status;
    if (!stat_entry(cache.fd.fd, name, status)) {
        if (errno == ENOENT) return false;
        return message::cant_stat(join_path(cache.path, name));
    }
    // Nor is anything else but a regular file (a directory planted there).
    if (!S_ISREG(status.st_mode)) return false;
    // Whole seconds only: a source changed again within the second its
    // derived file was written counts as unchanged.
    return static_cast<int64_t>(status.st_mtime) >= static_cast<int64_t>(source.st_mtime);
}
