// The album driver: one album from listing to pages.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/derived_images.h"
#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"
#include "base/settings.h"
#include "pages/gallery_page.h"
#include "pages/page_parts.h"

struct album_result {
    int32_t images = 0;                         // on its pages
    int32_t made = 0;                           // images whose derived files were made
    int32_t unreadable = 0;                     // -k: photographs left out, unread
    std::vector<std::string> unreadable_names;  // their names, in listing order
    int32_t deleted = 0;                        // orphaned files deleted
    std::optional<std::string> title;           // from .description, when it gives one
    std::optional<image_info> cover;            // the first image in page order
    bool left_out = false;                      // at fault itself, reported: not made
};

// An album between its two steps: derived, not yet paged. Its directory
// stays open, for the albums below it to be reached through it.
struct album_work {
    std::string name;  // its directory's name
    album_dirs dirs;
    std::vector<image_info> images;  // sorted for the pages
    album_result summary;
};

// The first step of process_album: opens the album `name` inside `parent`
// (never through a link), lists, derives and sorts its images and reads its
// .description (with -R, also that of an album without images, for its
// title). An album at fault itself is reported and comes back left_out.
result<album_work> begin_album(const open_dir &parent, const std::string &name,
                               const settings_record &config);

// The second step: writes the album's pages, with -R its sub-albums' cards
// on the first, removes its orphans and says it is done. place says where
// the album stands. An album with sub-albums and no images of its own gets
// an index page when an image is to be found below it.
result<album_result> finish_album(album_work &work, const album_place &place,
                                  std::span<const album_card> sub_albums,
                                  const settings_record &config, const std::string &footer);

// Derives, pages and cleans the album `name` of the gallery held open. The
// album is opened once, never through a link, and everything in it is
// reached through it. footer ends every page. An album at fault itself (a
// failure of kind bad_album: a cache directory that is no directory; or of
// kind in_the_way: a name its files go to taken by a directory) is reported
// and left out, whatever -k says.
result<album_result> process_album(const open_dir &gallery, const std::string &name,
                                   const settings_record &config, const std::string &footer);

// What a part run did in one album.
struct album_part_result {
    int32_t images = 0;                         // the album's images, in all parts
    int32_t derived = 0;                        // those of this part
    int32_t made = 0;                           // those whose derived files were made
    int32_t unreadable = 0;                     // -k: those that could not be read
    std::vector<std::string> unreadable_names;  // their names, in name order
    bool left_out = false;                      // at fault itself, reported: none derived
};

// A part run's share of the album `name`: the derived images of the album's
// images that fall in config.part, the album's first image being the
// gallery's image number `first`; no description, page or orphan removal.
// An album at fault itself is left out as by process_album, its images
// still counted, so that the parts after it are dealt alike in every part.
result<album_part_result> derive_album_part(const open_dir &gallery, const std::string &name,
                                            const settings_record &config, int64_t first);
