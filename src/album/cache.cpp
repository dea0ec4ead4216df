#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

#include "album/image_info.h"
#include "run/fatal.h"
#include "run/files.h"

namespace {

// stat follows symbolic links, so a link to a directory serves, and a
// dangling one reads as missing, which mkdir then refuses.
void ensure_dir(const std::string &path, bool quote_in_message)
{
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) return;
        if (quote_in_message) fatal("'%s' exists, but is not a directory\n", path.c_str());
        fatal("%s exists, but is not a directory\n", path.c_str());
    }
    if (errno != ENOENT) fatal_errno("can't stat(%s)", path.c_str());
    if (mkdir(path.c_str(), 0777) != 0) fatal_errno("can't mkdir(%s)", path.c_str());
}

}  // namespace

void ensure_cache_dirs(const std::string &album_path)
{
    ensure_dir(join_path(album_path, ".scaled"), true);
    ensure_dir(join_path(album_path, ".thumbs"), false);
}

bool is_fresh(const std::string &derived_path, const struct stat &source)
{
    struct stat status;
    if (stat(derived_path.c_str(), &status) != 0) {
        if (errno == ENOENT) return false;
        fatal_errno("can't stat(%s)", derived_path.c_str());
    }
    // Whole seconds only: a source changed again within the second its
    // derived file was written counts as unchanged.
    return static_cast<int64_t>(status.st_mtime) >= static_cast<int64_t>(source.st_mtime);
}
