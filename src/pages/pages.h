// Page generation: one page per image and the paged thumbnail indexes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct image_info;

// Writes "<album>/<name>.html" for every image, in display order.
void write_image_pages(const std::string &album_path, std::span<const image_info> images);

// Writes index.html, index2.html, ... for the album; returns how many.
int32_t write_index_pages(const std::string &album_path, std::span<const image_info> images,
                          bool show_caption);
