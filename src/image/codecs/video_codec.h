// Videos through FFmpeg's libraries (libavformat, libavcodec, libswscale):
// the container opened from the held descriptor through the byte source,
// never by its path, by the demuxers of MP4/QuickTime and Matroska/WebM
// alone, and one frame decoded as the poster. Everything FFmpeg allocates
// is held by the RAII wrappers inside video_file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/failure.h"
#include "base/image_info.h"
#include "image/picture.h"

// An open video: its demuxer and the decoder of its first video stream,
// ready to decode, and what its pages show of it.
struct video_file {
    struct state;  // FFmpeg's contexts, and the source they read
    std::unique_ptr<state> held;
    int32_t width = 0;  // the coded frame's, before the display matrix turns it
    int32_t height = 0;
    // The EXIF orientation (1, 3, 6 or 8) that stands for the stream's
    // display matrix: how the decoded frame is turned to be seen.
    int orientation = 1;
    video_record facts;
    // When it was recorded, as YYYYMMDDhhmmss, from the container's
    // creation time; none without one.
    std::optional<int64_t> taken_time;

    video_file();
    video_file(video_file &&) noexcept;
    video_file &operator=(video_file &&) noexcept;
    ~video_file();
};

// The video of the descriptor (the caller's, open while the file lives);
// path names it in messages. A file that is no MP4, QuickTime or Matroska
// container, or has no video stream of a codec decoded here, fails with
// kind bad_input.
result<video_file> open_video(int fd, const std::string &path);

// What decoding the poster holds beside the picture it gives: the
// decoder's frames (its reference frames at most) and the converted one.
size_t video_decode_memory(const video_file &file);

// The poster: a frame at about one second (a tenth of a shorter clip), or
// a later one where that is near black or of one colour, as 8-bit RGB of
// the coded size. Asks stopped between packets.
result<picture> decode_poster(video_file &file, bool (*stopped)(), const std::string &path);

// The "codecs" parameter that names a stream for a browser (RFC 6381),
// from its codec and the configuration record the container carries:
// "avc1.64001f" from an avcC record, "hvc1.1.6.L93.B0" from hvcC,
// "av01.0.04M.08" from av1C, "vp09.00.10.08" from vpcC (without a record,
// "vp8" or "vp9" in WebM); empty when it cannot be told exactly.
std::string codecs_parameter(const std::string &codec, uint32_t tag, const uint8_t *record,
                             size_t record_size, bool webm);
