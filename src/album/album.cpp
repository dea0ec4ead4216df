#include "album/album.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "album/cache_dirs.h"
#include "album/description.h"
#include "album/image_listing.h"
#include "album/image_order.h"
#include "album/orphans.h"
#include "base/derived_images.h"
#include "base/files.h"
#include "base/ordered_jobs.h"
#include "base/settings.h"
#include "image/pipeline.h"
#include "pages/image_pages.h"
#include "pages/index_pages.h"

namespace {

void set_captions(std::vector<image_info> &images, const album_description &description)
{
    const caption_index captions = index_captions(description.entries);
    for (image_info &image : images) {
        const std::string &caption = lookup_caption(captions, image.name);
        image.caption_from_description = &caption != &image.name;
        image.caption = caption;
    }
}

}  // namespace

album_result process_album(const std::string &album_path, const std::string &footer)
{
    album_result result;
    std::vector<image_info> images = list_images(album_path);
    result.images = static_cast<int32_t>(images.size());

    if (!images.empty()) {
        const size_t limit = name_limit(album_path);
        for (image_info &image : images) image.page = fitted_name(limit, image.name, ".html");
        ensure_cache_dirs(album_path);
        image_names names;
        for (const image_info &image : images) names.insert(image.name);
        const int album_fd = open(album_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const album_description description = read_description(album_fd, album_path, names);
        if (album_fd >= 0) close(album_fd);
        result.title = description.title;
        set_captions(images, description);
        // Derived in listing order, so progress lines follow the directory.
        process_images(album_path, images);
        const image_order_fn order = order_function(settings.image_order);
        std::sort(images.begin(), images.end(),
                  [order](const image_info &a, const image_info &b) { return order(a, b) < 0; });
        // The album title and -d are the owner's own markup: written unchanged.
        const std::string &title = result.title ? *result.title : settings.default_title;
        result.cover = images.front();
        write_image_pages(album_path, images, title, footer);
        const int32_t pages = write_index_pages(album_path, images, settings.show_caption, title, footer);
        report_out("%d thumbnail index pages created.\n", pages);
    }
    if (settings.remove_orphans)
        for (const derived_image &kind : derived_images) remove_orphans(album_path, kind, images);

    report_out("%d image%s processed in album '%s'.\n", result.images, result.images == 1 ? "" : "s",
                result.title ? result.title->c_str() : album_path.c_str());
    return result;
}
