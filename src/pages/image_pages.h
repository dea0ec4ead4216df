// The image pages: one page per image, "<album>/<name>.html".
#pragma once

#include <span>
#include <string>

#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"
#include "base/settings.h"

// Writes every image's page, in display order. title heads each page (the
// owner's markup, unchanged) and footer ends it.
[[nodiscard]] outcome write_image_pages(const open_dir &album, std::span<const image_info> images,
                                        const std::string &title, const std::string &footer,
                                        const settings_record &config);
