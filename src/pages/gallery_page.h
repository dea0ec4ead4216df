// The gallery index page, "<gallery>/index.html": every album with its
// title and image count. Written while the albums are processed, and moved
// to its final name only after the last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"
#include "base/settings.h"

// Opens the page under its temporary name and writes its head.
result<output_file> open_gallery_page(const open_dir &gallery, const settings_record &config);

// What a list item shows of an album: on the gallery page, and with -R on
// the album pages that list their sub-albums.
struct album_card {
    std::string dir_name;              // its directory's name
    std::optional<std::string> title;  // from .description: the owner's markup
    int32_t images = 0;                // on its pages and, with -R, every album's below
    int32_t albums = 0;                // -R: the albums below it, at every depth
    // -C: the first image of its pages, else (-R) of the first album below
    // that has one, whose directory is cover_dir below the album's own.
    std::optional<image_info> cover;
    std::string cover_dir;
};

// One album's list item, the list's `position`th (from 0). With -C, the
// cover, every size made of it, leads to the album. An album with no image
// anywhere has no page to lead to.
void write_album_item(output_file &page, const album_card &card, size_t position,
                      const settings_record &config);

// -R: an album's sub-albums, as the gallery page lists its albums.
void write_album_cards(std::FILE *out, std::span<const album_card> cards,
                       const settings_record &config);

// Writes the tail with the footer and moves the page into place.
[[nodiscard]] outcome finish_gallery_page(output_file &page, const std::string &footer);
