// The thumbnail index pages of an album: index.html, index2.html, ...
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"
#include "base/settings.h"
#include "pages/gallery_page.h"
#include "pages/page_parts.h"

// Writes the album's index pages, rows x columns thumbnails each, and
// returns how many. title heads each page and footer ends it; place says
// where the album stands (how far up the gallery is, and its breadcrumbs).
// With -R, the first page lists the album's sub-albums before its images,
// and an album with sub-albums but no images of its own gets that page
// alone.
result<int32_t> write_index_pages(const open_dir &album, std::span<const image_info> images,
                                  const std::string &title, const std::string &footer,
                                  const settings_record &config, const album_place &place = {},
                                  std::span<const album_card> sub_albums = {});
