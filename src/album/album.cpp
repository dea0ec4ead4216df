#include "album/album.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "album/cache_dirs.h"
#include "album/description.h"
#include "album/image_listing.h"
#include "album/image_order.h"
#include "album/orphans.h"
#include "base/derived_images.h"
#include "base/messages.h"
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

// Everything an album with images gets: derived files and pages.
outcome derive_and_page(album_dirs &dirs, std::vector<image_info> &images, album_result &summary,
                        const settings_record &config, const std::string &footer)
{
    const size_t limit = name_limit(dirs.album.fd.fd);
    for (image_info &image : images) image.page = fitted_name(limit, image.name, ".html");
    if (outcome opened = open_cache_dirs(dirs, config); !opened.ok()) return opened;
    image_names names;
    for (const image_info &image : images) names.insert(image.name);
    const album_description description =
        read_description(dirs.album.fd.fd, dirs.album.path, names);
    summary.title = description.title;
    set_captions(images, description);
    // Derived in listing order, so progress lines follow the directory.
    if (outcome derived = process_images(dirs, images, config); !derived.ok()) return derived;
    // A photograph gone since the listing has no page this run.
    std::erase_if(images, [](const image_info &image) { return image.gone; });
    summary.images = static_cast<int32_t>(images.size());
    if (images.empty()) return {};
    const image_order_fn order = order_function(config.image_order);
    std::sort(images.begin(), images.end(),
              [order](const image_info &a, const image_info &b) { return order(a, b) < 0; });
    // The album title and -d are the owner's own markup: written unchanged.
    const std::string &title = summary.title ? *summary.title : config.default_title;
    summary.cover = images.front();
    if (outcome written = write_image_pages(dirs.album, images, title, footer, config);
        !written.ok())
        return written;
    const result<int32_t> pages = write_index_pages(dirs.album, images, title, footer, config);
    if (!pages.ok()) return pages.error();
    note::index_pages_created(*pages);
    return {};
}

}  // namespace

result<album_result> process_album(const open_dir &gallery, const std::string &name,
                                   const settings_record &config, const std::string &footer)
{
    album_dirs dirs;
    dirs.album.path = join_path(gallery.path, name);
    dirs.album.fd = unique_fd(open_dir_at(gallery.fd.fd, name));
    if (!dirs.album.fd) return message::cant_opendir(dirs.album.path);

    album_result summary;
    result<std::vector<image_info>> listed = list_images(dirs.album, config.heif_photos);
    if (!listed.ok()) return listed.error();
    std::vector<image_info> &images = *listed;
    summary.images = static_cast<int32_t>(images.size());
    if (!images.empty()) {
        if (outcome done = derive_and_page(dirs, images, summary, config, footer); !done.ok())
            return done.error();
    }
    if (config.remove_orphans)
        for (const derived_image &kind : derived_images) remove_orphans(dirs.album, kind, images);

    note::album_processed(summary.images, summary.title ? *summary.title : dirs.album.path);
    return summary;
}
