// What reading and deriving one photograph says: the failures that name
// it, and its warnings on standard error, which never end the run.
#pragma once

#include <cstdint>
#include <string>

#include "base/limits.h"
#include "base/messages.h"

namespace message {

inline failure cant_resize(const std::string &name)
{
    return errno_failure("can't resize image '%s'", name.c_str());
}
// A photograph that is not a plain file: a link, a FIFO or a device.
inline failure not_a_regular_photo(const std::string &path)
{
    return failure_text("can't fopen(%s): not a regular file\n", path.c_str());
}
// A codec's own text about a file it cannot read or write.
inline failure codec_error(const std::string &path, const char *text)
{
    return failure_text("%s: %s\n", path.c_str(), text);
}
// A JPEG file of more scans than any encoder writes: each would cost a pass
// over the whole picture.
inline failure too_many_scans(const std::string &path)
{
    return failure_text("%s: more than %d scans: not decoded\n", path.c_str(), most_jpeg_scans);
}
// A HEIF or AVIF file whose boxes do not tell what libheif would decode.
inline failure heif_layout_unreadable(const std::string &path, const std::string &why)
{
    return failure_text("%s: can't tell the size it decodes to: %s\n", path.c_str(), why.c_str());
}
// A HEIF file whose boxes claim more than libheif may read into memory.
inline failure heif_boxes_too_large(const std::string &path, uint64_t bytes, uint64_t largest)
{
    return failure_text(
        "%s: boxes of %llu bytes beside the coded data, more than the %llu allowed\n", path.c_str(),
        static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(largest));
}
// A picture whose decode would hold more than is ever granted.
inline failure too_large_to_decode(const std::string &path, int32_t width, int32_t height)
{
    return failure_text("%s: too large to decode: %dx%d pixels\n", path.c_str(), width, height);
}
inline failure too_high(const std::string &path, int32_t height, int32_t largest)
{
    return failure_text(
        "can't scale '%s' to a height of %d pixels: JPEG images are at most %d pixels high\n",
        path.c_str(), height, largest);
}
inline failure too_wide(const std::string &path, int32_t height, double width, int32_t largest)
{
    return failure_text(
        "can't scale '%s' to a height of %d pixels: it would be %.0f pixels wide, and JPEG "
        "images are at most %d pixels wide\n",
        path.c_str(), height, width, largest);
}
// A HEIF or AVIF file whose stated size holds no pixel, or whose picture
// decodes to another size than the one its header states (and the pages
// would show).
inline failure no_stated_size(const std::string &path, int32_t width, int32_t height)
{
    return failure_text("%s: its header states a picture of %dx%d pixels\n", path.c_str(), width,
                        height);
}
inline failure decoded_size_differs(const std::string &path, uint32_t width, uint32_t height,
                                    int32_t stated_width, int32_t stated_height)
{
    return failure_text("%s: decodes to %ux%u pixels, not the %dx%d its header states\n",
                        path.c_str(), width, height, stated_width, stated_height);
}

}  // namespace message

namespace note {

inline void no_exif(const std::string &name)
{
    report_err("   %s: no EXIF data found\n", name.c_str());
}
inline void changed_while_read(const std::string &name)
{
    report_err("   %s: changed while it was read, reading it again\n", name.c_str());
}
inline void gone_while_read(const std::string &name)
{
    report_err("   %s: gone while the album was read, left out\n", name.c_str());
}
inline void still_changing(const std::string &name)
{
    report_err("   %s: still changing, its derived images are left for the next run\n",
               name.c_str());
}
// A codec's warning about damaged data, naming the file.
inline void codec_warning(const std::string &path, const char *text)
{
    report_err("%s: %s: %s\n", program_name().c_str(), path.c_str(), text);
}
// A colour profile not carried into the derived images, and why.
inline void profile_left_out(const std::string &path, const std::string &why)
{
    report_err("%s: %s: colour profile left out: %s\n", program_name().c_str(), path.c_str(),
               why.c_str());
}

}  // namespace note
