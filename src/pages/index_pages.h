// The thumbnail index pages of an album: index.html, index2.html, ...
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"
#include "base/settings.h"

// Writes the album's index pages, rows x columns thumbnails each, and
// returns how many. title heads each page and footer ends it.
result<int32_t> write_index_pages(const open_dir &album, std::span<const image_info> images,
                                  const std::string &title, const std::string &footer,
                                  const settings_record &config);
