#include "album/image_listing.h"

#include <unordered_set>

#include "album/messages.h"
#include "base/photo_names.h"

std::string derived_name(const std::string &name, size_t name_limit)
{
    return is_heif_name(name) || is_video_name(name) ? fitted_name(name_limit, name, ".jpg") : name;
}

result<std::vector<image_info>> list_images(const open_dir &album, bool heif_photos, bool videos,
                                            passed_over *passed)
{
    result<std::vector<dir_entry>> entries = list_directory(album, message::error_on_closedir);
    if (!entries.ok()) return entries.error();
    std::vector<image_info> images;
    std::unordered_set<std::string_view> jpeg_names;
    for (const dir_entry &entry : *entries) {
        if (entry.type != DT_REG) continue;
        if (is_jpeg_name(entry.name)) jpeg_names.insert(entry.name);
    }
    const size_t limit = name_limit(album.fd.fd);
    for (const dir_entry &entry : *entries) {
        if (entry.type != DT_REG) continue;
        const bool jpeg = is_jpeg_name(entry.name);
        if (!jpeg && !heif_photos && passed && is_heif_name(entry.name)) ++passed->heif;
        if (!videos && passed && is_video_name(entry.name)) ++passed->video;
        if (!jpeg && !(heif_photos && is_heif_name(entry.name)) &&
            !(videos && is_video_name(entry.name)))
            continue;
        image_info image;
        image.name = entry.name;
        image.derived = derived_name(entry.name, limit);
        // Two photographs would write the same derived files: the JPEG keeps them.
        if (!jpeg && jpeg_names.contains(image.derived)) {
            note::derived_names_taken(image.name, image.derived);
            continue;
        }
        images.push_back(std::move(image));
    }
    return images;
}
