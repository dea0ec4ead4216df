// The album driver: one album from listing to pages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct album_result {
    int32_t images = 0;
    std::optional<std::string> title;  // from .description, when it gives one
};

// Derives, pages and cleans one album. footer ends every page.
album_result process_album(const std::string &album_path, const std::string &footer);
