// The image pages: one page per image, "<album>/<name>.html".
#pragma once

#include <span>
#include <string>

#include "base/image_info.h"

// Writes every image's page, in display order. title heads each page (the
// owner's markup, unchanged) and footer ends it.
void write_image_pages(const std::string &album_path, std::span<const image_info> images,
                       const std::string &title, const std::string &footer);
