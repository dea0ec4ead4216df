#include "album/cache_dirs.h"

#include <sys/stat.h>

#include <cerrno>

#include "base/derived_images.h"
#include "base/fatal.h"
#include "base/files.h"

namespace {

// A symbolic link is refused like any other non-directory: whoever can
// write into the album must not make the run write or delete elsewhere.
void ensure_dir(const std::string &path, const derived_image &kind)
{
    struct stat status;
    if (lstat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) return;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        fatal(kind.not_a_directory_format, path.c_str());
#pragma GCC diagnostic pop
    }
    if (errno != ENOENT) fatal_errno("can't stat(%s)", path.c_str());
    if (mkdir(path.c_str(), 0777) != 0) fatal_errno("can't mkdir(%s)", path.c_str());
}

}  // namespace

void ensure_cache_dirs(const std::string &album_path)
{
    for (const derived_image &kind : derived_images)
        if (is_made(kind)) ensure_dir(join_path(album_path, kind.dir), kind);
}
