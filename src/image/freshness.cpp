#include "image/freshness.h"

#include <cerrno>
#include <cstdint>

#include "base/fatal.h"

bool is_fresh(const std::string &derived_path, const struct stat &source)
{
    // A link is never fresh, so the next write replaces the link itself.
    struct stat status;
    if (lstat(derived_path.c_str(), &status) != 0) {
        if (errno == ENOENT) return false;
        fatal_errno("can't stat(%s)", derived_path.c_str());
    }
    if (S_ISLNK(status.st_mode)) return false;
    // Whole seconds only: a source changed again within the second its
    // derived file was written counts as unchanged.
    return static_cast<int64_t>(status.st_mtime) >= static_cast<int64_t>(source.st_mtime);
}
