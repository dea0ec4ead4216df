// The image pages: one page per image, "<album>/<name>.html".
#pragma once

#include <span>
#include <string>

#include "base/failure.h"
#include "base/files.h"
#include "base/image_info.h"
#include "base/settings.h"
#include "pages/page_parts.h"

// Writes every image's page, in display order. title heads each page (the
// owner's markup, unchanged) and footer ends it; place says where the
// album stands (how far up the stylesheet is, and its breadcrumbs).
[[nodiscard]] outcome write_image_pages(const open_dir &album, std::span<const image_info> images,
                                        const std::string &title, const std::string &footer,
                                        const settings_record &config,
                                        const album_place &place = {});
