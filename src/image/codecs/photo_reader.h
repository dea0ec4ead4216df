// The one interface every photograph is read through, whatever its format:
// open from a descriptor held open, the header (size, EXIF, what a decode
// will hold), then the picture decoded at a reduction. The road of an image
// (derive_image.cpp) knows nothing else of a format; a new source format is one
// more reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "base/image_info.h"
#include "base/photo_names.h"
#include "image/codecs/exif.h"
#include "image/picture.h"

// What a decode at a reduction holds at its largest: the picture it makes,
// and what the decoder holds beside it (for a JPEG file libjpeg keeps whole,
// every coefficient until the last scan; for a HEIF file libheif's own copy).
struct decode_footprint {
    size_t picture = 0;
    size_t working = 0;
    int components = 0;  // of the picture
};

// Whether the work was told to stop, asked where a decode can stop early,
// which then returns failure::stopped(): a JPEG decode asks between rows;
// libheif decodes a picture whole, so a HEIF decode asks only before it
// starts.
using stop_check = bool (*)();

class photo_reader {
public:
    virtual ~photo_reader() = default;

    // The picture's size as stored, before the orientation is applied.
    virtual int32_t stored_width() const = 0;
    virtual int32_t stored_height() const = 0;

    // The EXIF data; none when the photograph has none.
    virtual unique_exif exif() = 0;

    // The EXIF orientation (1 to 8) that a decoded picture still needs
    // applied: a HEIF file's decoder applies its container's own turn.
    virtual int orientation_to_apply(int exif_orientation) const = 0;

    // The reduction (1, 2, 4 or 8) that a picture upright_width wide is
    // decoded at when the widest image made from it is target_width wide.
    virtual unsigned reduction_for(int32_t upright_width, int32_t target_width) const = 0;

    virtual result<decode_footprint> measure(unsigned reduction) = 0;

    // The picture at 1/reduction of its stored size, with its ICC profile.
    // The memory it takes is its caller's to claim (measure).
    virtual result<picture> decode(unsigned reduction, stop_check stop) = 0;

    // A video's facts for its page (-V): a video's picture is its poster
    // frame. None for a photograph.
    virtual std::optional<video_record> video() const { return std::nullopt; }
    // When a video was recorded, as YYYYMMDDhhmmss, from its container; a
    // photograph tells it in its EXIF data.
    virtual std::optional<int64_t> recorded() const { return std::nullopt; }
};

using unique_reader = std::unique_ptr<photo_reader>;

// A JPEG photograph, its header read from the descriptor (which stays the
// caller's, and open as long as the reader lives); path names it in messages.
result<unique_reader> open_jpeg_reader(int fd, const std::string &path);

// A HEIF or AVIF photograph, as above. decoding_threads is how many threads
// libheif may decode a tiled picture with (0: only the calling one); its
// codec plugins may start threads of their own.
result<unique_reader> open_heif_reader(int fd, const std::string &path, int decoding_threads);

// A video (-V), as above: its poster frame is the picture. FFmpeg decodes
// on the calling thread alone.
result<unique_reader> open_video_reader(int fd, const std::string &path, int decoding_threads);

// A format of photograph: the file names that are of it, and its reader.
struct photo_format {
    bool (*has_name)(std::string_view name);
    result<unique_reader> (*open)(int fd, const std::string &path, int decoding_threads);
};

// Every format a photograph is read in, one row each; a new format is one
// row and its reader. The first row whose names match reads the file; the
// last reads every other name (the listing lets through only photographs).
inline constexpr photo_format photo_formats[] = {
    {is_heif_name, open_heif_reader},
    {is_video_name, open_video_reader},
    {is_jpeg_name, [](int fd, const std::string &path, int) { return open_jpeg_reader(fd, path); }},
};

inline const photo_format &reader_for(std::string_view name)
{
    for (const photo_format &format : photo_formats)
        if (format.has_name(name)) return format;
    return photo_formats[std::size(photo_formats) - 1];
}
