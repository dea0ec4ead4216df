#include "album/album.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "album/cache_dirs.h"
#include "album/description.h"
#include "album/image_listing.h"
#include "album/image_order.h"
#include "album/messages.h"
#include "album/orphans.h"
#include "album/partition.h"
#include "album/photo_jobs.h"
#include "base/derived_images.h"
#include "base/progress.h"
#include "pages/escape.h"
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

// Opens the album inside the gallery into dirs (never through a link) and
// lists its images, counting in `passed` what it passed over.
result<std::vector<image_info>> open_album(const open_dir &gallery, const std::string &name,
                                           const settings_record &config, album_dirs &dirs,
                                           passed_over *passed = nullptr)
{
    dirs.album.path = join_path(gallery.path, name);
    dirs.album.fd = unique_fd(open_dir_at(gallery.fd.fd, name));
    if (!dirs.album.fd) return message::cant_opendir(dirs.album.path);
    return list_images(dirs.album, config.heif_photos, config.videos, passed);
}

// The photographs that could not be read (-k) or were gone since the
// listing leave the album: no page shows them, and orphan removal takes
// what was derived from them before.
void drop_left_out(std::vector<image_info> &images, const std::vector<photo_outcome> &outcomes,
                   album_result &summary)
{
    std::vector<image_info> readable;
    readable.reserve(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        if (outcomes[i] == photo_outcome::unreadable) {
            ++summary.unreadable;
            summary.unreadable_names.push_back(images[i].name);
            continue;
        }
        if (outcomes[i] == photo_outcome::gone) continue;
        if (outcomes[i] == photo_outcome::made) ++summary.made;
        readable.push_back(std::move(images[i]));
    }
    images = std::move(readable);
    summary.images = static_cast<int32_t>(images.size());
}

// Whether the album is to be left out for the failure: one of the album's
// own (bad_album) is reported here, in its place among the albums' lines.
bool leave_out(failure error)
{
    // What was planted in the album where its pages or derived files go
    // is the album's fault too.
    if (error.kind == failure_kind::in_the_way) error.kind = failure_kind::bad_album;
    if (error.kind != failure_kind::bad_album) return false;
    report_failure(error);
    return true;
}

// Everything an album with images gets before its pages: derived files,
// captions and the order of its pages.
outcome derive_images(album_dirs &dirs, std::vector<image_info> &images, album_result &summary,
                      const settings_record &config)
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
    const result<std::vector<photo_outcome>> derived = process_images(dirs, images, config);
    if (!derived.ok()) return derived.error();
    drop_left_out(images, *derived, summary);
    if (images.empty()) return {};  // none could be read: pages as for an empty album
    const image_order_fn order = order_function(config.image_order);
    std::sort(images.begin(), images.end(),
              [order](const image_info &a, const image_info &b) { return order(a, b) < 0; });
    summary.cover = images.front();
    return {};
}

// The title that heads the album's pages: its .description's, else with -N
// its folder's name, else -d's. The first two and -d are the owner's own
// markup, written unchanged; a folder's name is data.
std::string page_title(const album_work &work, const settings_record &config)
{
    if (work.summary.title) return *work.summary.title;
    if (config.folder_titles) return html_escape(work.name);
    return config.default_title;
}

// Whether any of the cards leads to a page.
bool any_linked(std::span<const album_card> cards)
{
    return std::any_of(cards.begin(), cards.end(),
                       [](const album_card &card) { return card.images > 0; });
}

}  // namespace

result<album_work> begin_album(const open_dir &parent, const std::string &name,
                               const settings_record &config)
{
    album_work work;
    work.name = name;
    passed_over passed;
    result<std::vector<image_info>> listed = open_album(parent, name, config, work.dirs, &passed);
    if (!listed.ok()) return listed.error();
    // Once per album, and only here: the parts would say it once each.
    note::not_included(work.dirs.album.path, passed);
    work.images = std::move(*listed);
    album_result &summary = work.summary;
    summary.images = static_cast<int32_t>(work.images.size());
    progress_photos(summary.images);
    if (!work.images.empty()) {
        if (outcome done = derive_images(work.dirs, work.images, summary, config); !done.ok()) {
            if (!leave_out(done.error())) return done.error();
            work.images.clear();
            summary = album_result();
            summary.left_out = true;
        }
    } else if (config.album_tree) {
        // Its title heads the pages that list its sub-albums, and the
        // breadcrumbs of every page below it.
        summary.title = read_description(work.dirs.album.fd.fd, work.dirs.album.path, {}).title;
    }
    // Only the album itself stays open while the albums below it are made.
    for (open_dir &cache : work.dirs.cache) cache.fd = unique_fd();
    return work;
}

result<album_result> finish_album(album_work &work, const album_place &place,
                                  std::span<const album_card> sub_albums,
                                  const settings_record &config, const std::string &footer)
{
    album_result &summary = work.summary;
    if (summary.left_out) return summary;
    const std::vector<image_info> &images = work.images;
    const open_dir &album = work.dirs.album;
    int32_t pages = 0;
    if (!images.empty() || any_linked(sub_albums)) {
        const std::string title = page_title(work, config);
        outcome written = write_image_pages(album, images, title, footer, config, place);
        result<int32_t> made = written.ok() ? write_index_pages(album, images, title, footer,
                                                                config, place, sub_albums)
                                            : result<int32_t>(written.error());
        if (!made.ok()) {
            if (!leave_out(made.error())) return made.error();
            summary = album_result();
            summary.left_out = true;
            return summary;
        }
        pages = *made;
        if (!config.quiet) note::index_pages_created(pages);
    }
    if (config.remove_orphans) {
        for (const derived_image &kind : derived_images) {
            // A quiet run says nothing of cache directories the album never
            // had, nor does -R, where albums that only hold albums are many.
            struct stat status;
            if ((config.quiet || config.album_tree) && !stat_entry(album.fd.fd, kind.dir, status) &&
                errno == ENOENT)
                continue;
            summary.deleted += remove_orphans(album, kind, images);
        }
        // -R: index pages the album no longer has, as when a folder below
        // it was deleted.
        if (config.album_tree) summary.deleted += remove_index_pages(album, pages);
    }

    if (!config.quiet)
        note::album_processed(summary.images, summary.title ? *summary.title : album.path);
    return summary;
}

result<album_result> process_album(const open_dir &gallery, const std::string &name,
                                   const settings_record &config, const std::string &footer)
{
    result<album_work> work = begin_album(gallery, name, config);
    if (!work.ok()) return work.error();
    return finish_album(*work, album_place(), {}, config, footer);
}

result<album_part_result> derive_album_part(const open_dir &gallery, const std::string &name,
                                            const settings_record &config, int64_t first)
{
    album_dirs dirs;
    result<std::vector<image_info>> listed = open_album(gallery, name, config, dirs);
    if (!listed.ok()) return listed.error();
    std::vector<image_info> &images = *listed;
    // Name order, whatever order the listing gave: every part deals alike.
    std::sort(images.begin(), images.end(),
              [](const image_info &a, const image_info &b) { return compare_name(a, b) < 0; });
    std::vector<image_info> chosen;
    for (const size_t i : images_in_part(images.size(), first, config.part))
        chosen.push_back(std::move(images[i]));
    album_part_result summary;
    summary.images = static_cast<int32_t>(images.size());
    summary.derived = static_cast<int32_t>(chosen.size());
    if (!chosen.empty()) {
        if (outcome opened = open_cache_dirs(dirs, config); !opened.ok()) {
            if (!leave_out(opened.error())) return opened.error();
            summary.derived = 0;
            summary.left_out = true;
            return summary;
        }
        const result<std::vector<photo_outcome>> derived = process_images(dirs, chosen, config);
        if (!derived.ok()) {
            if (!leave_out(derived.error())) return derived.error();
            summary.derived = 0;
            summary.left_out = true;
            return summary;
        }
        for (size_t i = 0; i < chosen.size(); ++i) {
            if ((*derived)[i] == photo_outcome::made) ++summary.made;
            if ((*derived)[i] == photo_outcome::unreadable) {
                ++summary.unreadable;
                summary.unreadable_names.push_back(chosen[i].name);
            }
        }
    }
    return summary;
}
