#include "image/codecs/exif.h"

#include <libexif/exif-utils.h>

#include <unistd.h>

#include <libexif/exif-loader.h>

#include <vector>

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
        return std::string(buffer);
    }
    return std::nullopt;
}

int exif_orientation(ExifData *data)
{
    ExifContent *ifd0 = data->ifd[EXIF_IFD_0];
    ExifEntry *entry = ifd0 ? exif_content_get_entry(ifd0, EXIF_TAG_ORIENTATION) : nullptr;
    if (!entry || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 || !entry->data ||
        entry->size < 2)
        return 1;
    const ExifShort value = exif_get_short(entry->data, exif_data_get_byte_order(data));
    return value >= 1 && value <= 8 ? value : 1;
}

std::optional<int64_t> exif_date_time(const std::string &text)
{
    // Cameras without a set clock write "0000:00:00 00:00:00" or blanks:
    // every field must be a number in its range.
    static constexpr char shape[] = "dddd:dd:dd dd:dd:dd";
    if (text.size() != sizeof shape - 1) return std::nullopt;
    int64_t key = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (shape[i] == 'd') {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            key = key * 10 + (text[i] - '0');
        } else if (text[i] != shape[i]) {
            return std::nullopt;
        }
    }
    const int64_t month = key / 100000000 % 100, day = key / 1000000 % 100;
    const int64_t hour = key / 10000 % 100, minute = key / 100 % 100, second = key % 100;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    return key;
}

unique_exif read_exif_data(const byte_source &bytes)
{
    // What libexif's own reader of a file does, fed by position. It reads
    // 1 KiB at a time; larger pieces find the same data (the loader looks at
    // the stream 12 bytes at a time and counts the bytes of a marker it
    // skips, wherever the pieces end), and a file of a gigabyte of markers
    // before its picture costs a few thousand reads, not a million.
    ExifLoader *loader = exif_loader_new();
    if (!loader) return nullptr;
    std::vector<unsigned char> piece(64 * 1024);
    byte_source source = bytes;  // its error is of no use here
    for (int64_t offset = 0;;) {
        const int64_t got = source.read_some(offset, piece);
        if (got <= 0) break;
        offset += got;
        if (!exif_loader_write(loader, piece.data(), static_cast<unsigned int>(got))) break;
    }
    unique_exif data(exif_loader_get_data(loader));
    exif_loader_unref(loader);
    return data;
}
