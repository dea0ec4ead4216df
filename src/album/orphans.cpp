#include "album/orphans.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_set>

#include "album/image_listing.h"
#include "base/files.h"
#include "base/ordered_jobs.h"

// Orphan removal only reports: a cache directory it cannot read or a file
// it cannot delete never ends the run, and its lines carry no program name.
void remove_orphans(const std::string &album_path, const derived_image &kind,
                    std::span<const image_info> images)
{
    const std::string dir_path = join_path(album_path, kind.dir);
    // Never through a link: the deletions stay inside the album.
    const int fd = open_dir_no_follow(dir_path);
    unique_dir dir(fd >= 0 ? fdopendir(fd) : nullptr);
    if (fd >= 0 && !dir) close(fd);
    // Double-density directories are looked after whenever they exist, and
    // only then: without -2 an album need not have them.
    if (!dir && kind.doubles >= 0 && errno == ENOENT) return;
    if (!dir) {
        report_out("can't opendir(%s)\n", dir_path.c_str());
        return;
    }

    const size_t page_limit = name_limit(album_path);
    std::unordered_set<std::string_view> names;
    names.reserve(images.size());
    for (const image_info &image : images) names.insert(image.name);

    while (const dirent *entry = readdir(dir.get())) {
        // The listing's own entry type: links and unknown types are never candidates.
        if (entry->d_type != DT_REG || !is_jpeg_name(entry->d_name)) continue;
        if (names.contains(entry->d_name)) continue;  // byte-wise, case-sensitive

        const std::string derived = join_path(dir_path, entry->d_name);
        if (unlinkat(dirfd(dir.get()), entry->d_name, 0) == 0)
            report_out("deleted orphan %s\n", derived.c_str());
        else
            report_err("can't unlink(%s)\n", derived.c_str());

        // The page usually went with the other cache directory's pass: silent then.
        const std::string page = join_path(album_path, fitted_name(page_limit, entry->d_name, ".html"));
        if (unlink(page.c_str()) == 0) report_out("deleted orphan %s\n", page.c_str());
    }

    if (closedir(dir.release()) != 0) report_err("can't closedir(%s)\n", dir_path.c_str());
}
