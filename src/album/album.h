// The album driver: one album from listing to pages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"
#include "base/settings.h"

struct album_result {
    int32_t images = 0;                // on its pages
    int32_t made = 0;                  // images whose derived files were made
    int32_t unreadable = 0;            // -k: photographs left out, unread
    int32_t deleted = 0;               // orphaned files deleted
    std::optional<std::string> title;  // from .description, when it gives one
    std::optional<image_info> cover;   // the first image in page order
};

// Derives, pages and cleans the album `name` of the gallery held open. The
// album is opened once, never through a link, and everything in it is
// reached through it. footer ends every page.
result<album_result> process_album(const open_dir &gallery, const std::string &name,
                                   const settings_record &config, const std::string &footer);
