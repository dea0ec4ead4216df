// The gallery index page, "<gallery>/index.html": every album with its
// title and image count. Written while the albums are processed, and moved
// to its final name only after the last.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"
#include "base/settings.h"

// Opens the page under its temporary name and writes its head.
result<output_file> open_gallery_page(const open_dir &gallery, const settings_record &config);

// One album's list item. dir_name is the album's directory name; its title
// from .description, when it has one, is the owner's markup. With -C, the
// cover, the first image in every size made of it, leads to the album.
void write_album_item(output_file &page, const std::string &dir_name,
                      const std::optional<std::string> &title, int32_t images,
                      const std::optional<image_info> &cover, const settings_record &config);

// Writes the tail with the footer and moves the page into place.
[[nodiscard]] outcome finish_gallery_page(output_file &page, const std::string &footer);
