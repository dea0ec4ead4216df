#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "album/image_info.h"
#include "image/resample.h"
#include "pages/pages.h"
#include "run/fatal.h"
#include "run/files.h"
#include "run/settings.h"

namespace {

// The album's images in the order the listing delivers them, only their
// names set. Only what the listing itself reports as a regular file counts.
std::vector<image_info> list_images(const std::string &album_path)
{
    unique_dir dir(opendir(album_path.c_str()));
    if (!dir) fatal_errno("can't opendir(%s)", album_path.c_str());
    std::vector<image_info> images;
    errno = 0;
    while (const dirent *entry = readdir(dir.get())) {
        if (entry->d_type == DT_REG && is_jpeg_name(entry->d_name)) {
            images.emplace_back();
            images.back().name = entry->d_name;
        }
        errno = 0;
    }
    if (errno != 0) fatal_errno("can't readdir(%s)", album_path.c_str());
    if (closedir(dir.release()) != 0) fatal_errno("error on closedir(%s)", album_path.c_str());
    return images;
}

}  // namespace

int32_t process_album(const std::string &album_path)
{
    settings.album_title.reset();
    std::vector<image_info> images = list_images(album_path);
    const auto count = static_cast<int32_t>(images.size());

    if (count > 0) {
        ensure_cache_dirs(album_path);
        // Derived in listing order, so progress lines follow the directory.
        process_images(album_path, images);
        std::sort(images.begin(), images.end(), [](const image_info &a, const image_info &b) {
            return settings.image_order(a, b) < 0;
        });
        write_image_pages(album_path, images);
        const int32_t pages = write_index_pages(album_path, images, settings.show_caption);
        std::printf("%d thumbnail index pages created.\n", pages);
    }
    if (settings.remove_orphans) {
        remove_orphans(album_path, ".scaled", images);
        remove_orphans(album_path, ".thumbs", images);
    }

    std::printf("%d image%s processed in album '%s'.\n", count, count == 1 ? "" : "s",
                settings.album_title ? settings.album_title->c_str() : album_path.c_str());
    return count;
}
