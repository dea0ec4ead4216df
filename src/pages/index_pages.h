// The thumbnail index pages of an album: index.html, index2.html, ...
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/image_info.h"

// Writes the album's index pages, rows x columns thumbnails each, and
// returns how many. show_caption puts each caption under its thumbnail
// instead of the image's size; title heads each page and footer ends it.
int32_t write_index_pages(const std::string &album_path, std::span<const image_info> images,
                          bool show_caption, const std::string &title, const std::string &footer);
