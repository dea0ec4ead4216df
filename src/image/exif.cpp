#include "image/exif.h"

#include <cerrno>
#include <new>

#include "base/fatal.h"

std::optional<std::string> exif_string(ExifData *data, ExifTag tag)
{
    // libexif's order: IFD 0, IFD 1, EXIF, GPS, Interoperability.
    for (int ifd = 0; ifd < EXIF_IFD_COUNT; ++ifd) {
        ExifContent *content = data->ifd[ifd];
        if (!content || content->count == 0) continue;
        ExifEntry *entry = exif_content_get_entry(content, tag);
        if (!entry) continue;
        // Zeroed: on some early returns libexif hands back the buffer untouched.
        char buffer[1024] = {};
        const char *text = exif_entry_get_value(entry, buffer, sizeof buffer);
        if (!text) continue;
        buffer[sizeof buffer - 1] = '\0';
        try {
            return std::string(buffer);
        } catch (const std::bad_alloc &) {
            errno = ENOMEM;
            fatal_errno("can't strdup(%s)", buffer);
        }
    }
    return std::nullopt;
}
