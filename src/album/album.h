// The album driver: one album from listing to pages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/image_info.h"

struct album_result {
    int32_t images = 0;
    std::optional<std::string> title;  // from .description, when it gives one
    std::optional<image_info> cover;   // the first image in page order
};

// Derives, pages and cleans one album. footer ends every page.
album_result process_album(const std::string &album_path, const std::string &footer);
