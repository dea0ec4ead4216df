#include "image/codecs/video_codec.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>

#include "base/byte_source.h"
#include "base/limits.h"
#include "image/messages.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

struct format_closer {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct codec_closer {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct frame_freer {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct packet_freer {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct io_freer {
    void operator()(AVIOContext *io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct scaler_freer {
    void operator()(SwsContext *scaler) const { sws_freeContext(scaler); }
};

using unique_format = std::unique_ptr<AVFormatContext, format_closer>;
using unique_codec = std::unique_ptr<AVCodecContext, codec_closer>;
using unique_frame = std::unique_ptr<AVFrame, frame_freer>;
using unique_packet = std::unique_ptr<AVPacket, packet_freer>;
using unique_io = std::unique_ptr<AVIOContext, io_freer>;
using unique_scaler = std::unique_ptr<SwsContext, scaler_freer>;

using steady = std::chrono::steady_clock;

}  // namespace

// The source and the deadline outlive the I/O context that points at them;
// members are destroyed in reverse: the decoder, the demuxer, then its I/O.
struct video_file::state {
    byte_source source;
    int64_t position = 0;
    steady::time_point deadline;
    unique_io io;
    unique_format format;
    unique_codec decoder;
    int stream = -1;
    bool webm_codecs = false;

    bool past_deadline() const { return steady::now() > deadline; }
};

video_file::video_file() = default;
video_file::video_file(video_file &&) noexcept = default;
video_file &video_file::operator=(video_file &&) noexcept = default;
video_file::~video_file() = default;

namespace {

// FFmpeg's own messages would reach standard error from every thread in
// its own words: the failures here say what went wrong instead.
void quiet_ffmpeg()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Reads go through the byte source: by position, never past the size the
// file had when it was opened, and not past the deadline.
int read_packet(void *opaque, uint8_t *to, int size)
{
    auto &held = *static_cast<video_file::state *>(opaque);
    if (held.past_deadline()) return AVERROR_EXIT;
    const int64_t read = held.source.read_some(held.position, {to, static_cast<size_t>(size)});
    if (read < 0) return AVERROR(EIO);
    if (read == 0) return AVERROR_EOF;
    held.position += read;
    return static_cast<int>(read);
}

int64_t seek_to(void *opaque, int64_t offset, int whence)
{
    auto &held = *static_cast<video_file::state *>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return held.source.size;
    int64_t from = 0;
    if (whence == SEEK_CUR)
        from = held.position;
    else if (whence == SEEK_END)
        from = held.source.size;
    else if (whence != SEEK_SET)
        return AVERROR(EINVAL);
    if ((offset > 0 && from > INT64_MAX - offset) || from + offset < 0) return AVERROR(EINVAL);
    held.position = from + offset;
    return held.position;
}

int interrupted(void *opaque)
{
    return static_cast<const video_file::state *>(opaque)->past_deadline() ? 1 : 0;
}

// The demuxer the file's first bytes call for: an ISO box ("ftyp", or a
// QuickTime file's first atom) for MP4 and QuickTime, the EBML magic for
// Matroska and WebM; nullptr for anything else.
const char *demuxer_of(const uint8_t (&head)[12], int64_t size)
{
    if (size >= 4 && head[0] == 0x1A && head[1] == 0x45 && head[2] == 0xDF && head[3] == 0xA3)
        return "matroska";
    if (size < 8) return nullptr;
    static constexpr const char *boxes[] = {"ftyp", "moov", "mdat", "wide", "free", "skip"};
    for (const char *box : boxes)
        if (std::memcmp(head + 4, box, 4) == 0) return "mov";
    return nullptr;
}

// The codecs whose frames are decoded here, by the names FFmpeg's
// decoders go by (AV1 through libdav1d or libaom where the build has
// them), and what a viewer knows them as.
struct video_codec_row {
    AVCodecID id;
    const char *name;
    const char *shown;
    bool webm;  // one WebM may carry
};
constexpr video_codec_row video_codecs[] = {
    {AV_CODEC_ID_H264, "h264", "H.264", false},
    {AV_CODEC_ID_HEVC, "hevc", "HEVC", false},
    {AV_CODEC_ID_VP8, "vp8", "VP8", true},
    {AV_CODEC_ID_VP9, "vp9", "VP9", true},
    {AV_CODEC_ID_AV1, "av1", "AV1", true},
    {AV_CODEC_ID_MPEG4, "mpeg4", "MPEG-4 Part 2", false},
    {AV_CODEC_ID_PRORES, "prores", "ProRes", false},
};

const video_codec_row *codec_row(AVCodecID id)
{
    for (const video_codec_row &row : video_codecs)
        if (row.id == id) return &row;
    return nullptr;
}

const uint8_t *display_matrix(const AVStream *stream)
{
#if LIBAVFORMAT_VERSION_MAJOR >= 61
    const AVPacketSideData *data = av_packet_side_data_get(stream->codecpar->coded_side_data,
                                                           stream->codecpar->nb_coded_side_data,
                                                           AV_PKT_DATA_DISPLAYMATRIX);
    return data && data->size >= 9 * sizeof(int32_t) ? data->data : nullptr;
#else
    size_t size = 0;
    const uint8_t *data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    return data && size >= 9 * sizeof(int32_t) ? data : nullptr;
#endif
}

// The EXIF orientation that turns the coded frame as the display matrix
// says: its rotation, counter-clockwise in FFmpeg's sense, is turned into
// the clockwise turn that shows the frame; a mirrored matrix is taken by
// its turn alone.
int orientation_of(const AVStream *stream)
{
    const uint8_t *matrix = display_matrix(stream);
    if (!matrix) return 1;
    int32_t entries[9];
    std::memcpy(entries, matrix, sizeof entries);
    const double rotation = av_display_rotation_get(entries);
    if (std::isnan(rotation)) return 1;
    long clockwise = std::lround(-rotation) % 360;
    if (clockwise < 0) clockwise += 360;
    switch ((clockwise + 45) / 90 % 4) {
    case 1: return 6;
    case 2: return 3;
    case 3: return 8;
    default: return 1;
    }
}

// "2024-05-01T12:34:56.000000Z" (or with a blank for the T) as
// YYYYMMDDhhmmss; none for anything else.
std::optional<int64_t> creation_time(const AVDictionary *metadata)
{
    const AVDictionaryEntry *entry = av_dict_get(metadata, "creation_time", nullptr, 0);
    if (!entry || !entry->value) return std::nullopt;
    const std::string_view text = entry->value;
    if (text.size() < 19) return std::nullopt;
    int64_t value = 0;
    for (size_t i = 0; i < 19; ++i) {
        if (i == 4 || i == 7) {
            if (text[i] != '-') return std::nullopt;
        } else if (i == 10) {
            if (text[i] != 'T' && text[i] != ' ') return std::nullopt;
        } else if (i == 13 || i == 16) {
            if (text[i] != ':') return std::nullopt;
        } else {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
    }
    // A muxer that knew no date writes the epoch's start, or nothing.
    if (value < 19700101000001) return std::nullopt;
    return value;
}

// Bytes as two-digit numbers after dots: hex (".4d") or decimal (".08").
void append_bytes(std::string &to, const char *format, std::span<const uint8_t> bytes)
{
    for (const uint8_t byte : bytes) {
        char text[8];
        (void)std::snprintf(text, sizeof text, format, unsigned{byte});
        to += text;
    }
}

std::string audio_parameter(const AVCodecParameters &audio)
{
    switch (audio.codec_id) {
    case AV_CODEC_ID_AAC:
        // The MPEG-4 audio object type is the profile plus one: LC is 2, HE 5.
        // The object type heads the AudioSpecificConfig, in 5 bits (31:
        // an escape to a longer one, not told here).
        if (audio.extradata && audio.extradata_size >= 2 && (audio.extradata[0] >> 3) != 31)
            return "mp4a.40." + std::to_string(audio.extradata[0] >> 3);
        return {};
    case AV_CODEC_ID_OPUS: return "opus";
    case AV_CODEC_ID_VORBIS: return "vorbis";
    case AV_CODEC_ID_MP3: return "mp4a.6b";
    case AV_CODEC_ID_FLAC: return "flac";
    default: return {};
    }
}

// The <source>'s type: MP4's (a QuickTime file is of the same boxes, and
// browsers read it as MP4), WebM's for a Matroska file of WebM's codecs;
// none for another Matroska file, which a browser then tries for itself.
std::string source_type(const AVFormatContext &format, const AVStream &video, bool webm_codecs,
                        bool matroska)
{
    const AVCodecParameters &coded = *video.codecpar;
    const video_codec_row *row = codec_row(coded.codec_id);
    if (matroska && !webm_codecs) return {};
    std::string type = matroska ? "video/webm" : "video/mp4";
    std::string codecs = codecs_parameter(row ? row->name : "", coded.codec_tag, coded.extradata,
                                          static_cast<size_t>(std::max(coded.extradata_size, 0)),
                                          matroska);
    if (codecs.empty()) return type;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVCodecParameters &other = *format.streams[i]->codecpar;
        if (other.codec_type != AVMEDIA_TYPE_AUDIO) continue;
        if (std::string audio = audio_parameter(other); !audio.empty()) {
            codecs += ", " + audio;
            break;
        }
    }
    return type + "; codecs=\"" + codecs + "\"";
}

}  // namespace

std::string codecs_parameter(const std::string &codec, uint32_t tag, const uint8_t *record,
                             size_t record_size, bool webm)
{
    if (codec == "h264") {
        // avcC: version 1, then profile, constraint flags, level.
        if (!record || record_size < 4 || record[0] != 1) return {};
        std::string parameter = "avc1.";
        append_bytes(parameter, "%02x", {record + 1, 3});
        return parameter;
    }
    if (codec == "hevc") {
        // hvcC: version 1; profile space, tier and profile; 32 compatibility
        // flags; 48 bits of constraint flags; the level.
        if (!record || record_size < 13 || record[0] != 1) return {};
        const unsigned space = record[1] >> 6, tier = (record[1] >> 5) & 1,
                       profile = record[1] & 0x1F;
        uint32_t compatible = 0;
        for (int i = 0; i < 4; ++i) compatible = compatible << 8 | record[2 + i];
        // The flags in reverse bit order, in hex without leading zeros.
        uint32_t reversed = 0;
        for (int i = 0; i < 32; ++i) reversed |= ((compatible >> i) & 1u) << (31 - i);
        char text[64];
        (void)std::snprintf(text, sizeof text, "%s.%s%u.%x.%c%u",
                            tag == MKTAG('h', 'e', 'v', '1') ? "hev1" : "hvc1",
                            space == 0   ? ""
                            : space == 1 ? "A"
                            : space == 2 ? "B"
                                         : "C",
                            profile, reversed, tier ? 'H' : 'L', record[12]);
        std::string parameter = text;
        // The constraint bytes, trailing zero bytes left out.
        int last = 5;
        while (last >= 0 && record[6 + last] == 0) --last;
        append_bytes(parameter, ".%02x", {record + 6, static_cast<size_t>(last + 1)});
        return parameter;
    }
    if (codec == "av1") {
        // av1C: marker and version 0x81; profile and level; tier, depth.
        if (!record || record_size < 4 || record[0] != 0x81) return {};
        const unsigned profile = record[1] >> 5, level = record[1] & 0x1F;
        const bool high_tier = record[2] & 0x80, high_depth = record[2] & 0x40,
                   twelve = record[2] & 0x20;
        char text[32];
        (void)std::snprintf(text, sizeof text, "av01.%u.%02u%c.%02u", profile, level,
                            high_tier ? 'H' : 'M',
                            twelve       ? 12u
                            : high_depth ? 10u
                                         : 8u);
        return text;
    }
    if (codec == "vp9" || codec == "vp8") {
        // vpcC: version 1 and flags; profile, level, depth in the top bits.
        if (record && record_size >= 8 && record[0] == 1) {
            std::string parameter = codec == "vp9" ? "vp09" : "vp08";
            const uint8_t fields[] = {record[4], record[5], static_cast<uint8_t>(record[6] >> 4)};
            append_bytes(parameter, ".%02u", fields);
            return parameter;
        }
        return webm ? codec : std::string();
    }
    return {};
}

result<video_file> open_video(int fd, const std::string &path)
{
    quiet_ffmpeg();
    const auto fail = [&path](const char *why) {
        failure error = message::codec_error(path, why);
        error.kind = failure_kind::bad_input;
        return error;
    };
    std::optional<byte_source> source = byte_source_of(fd);
    if (!source) return message::cant_stat(path);

    uint8_t head[12] = {};
    if (source->read_some(0, head) < 0) return message::cant_stat(path);
    const char *demuxer = demuxer_of(head, source->size);
    if (!demuxer) return fail("not a video: no MP4, QuickTime or Matroska header");

    video_file file;
    file.held = std::make_unique<video_file::state>();
    video_file::state &held = *file.held;
    held.source = *source;
    held.deadline = steady::now() + std::chrono::seconds(video_seconds);

    constexpr int buffer_size = 64 * 1024;
    auto *buffer = static_cast<uint8_t *>(av_malloc(buffer_size));
    if (!buffer) return message::cant_malloc();
    AVIOContext *io =
        avio_alloc_context(buffer, buffer_size, 0, &held, read_packet, nullptr, seek_to);
    if (!io) {
        av_free(buffer);
        return message::cant_malloc();
    }
    held.io.reset(io);

    AVFormatContext *format = avformat_alloc_context();
    if (!format) return message::cant_malloc();
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->interrupt_callback = {interrupted, &held};
    format->probesize = largest_video_probe;
    format->max_analyze_duration = 5 * AV_TIME_BASE;
    format->max_streams = most_video_streams;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "format_whitelist", "mov,matroska", 0);
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    // avformat_open_input frees the context when it fails.
    const int opened =
        avformat_open_input(&format, nullptr, av_find_input_format(demuxer), &options);
    av_dict_free(&options);
    if (opened < 0) {
        if (held.past_deadline()) return fail("not read within the time allowed");
        return fail(opened == AVERROR(ENOMEM) ? "can't malloc"
                                              : "not a video: its container can't be read");
    }
    held.format.reset(format);
    if (format->nb_streams > static_cast<unsigned>(most_video_streams))
        return fail("more streams than a video has");

    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) return fail("no video stream");
    const AVStream &video = *format->streams[stream];
    const AVCodecParameters &coded = *video.codecpar;
    const video_codec_row *row = codec_row(coded.codec_id);
    if (!row) {
        const std::string why = std::string("a video of codec ") +
                                avcodec_get_name(coded.codec_id) + ": not decoded";
        return fail(why.c_str());
    }
    if (coded.width <= 0 || coded.height <= 0) return fail("its video stream states no size");
    if (coded.width > largest_video_side || coded.height > largest_video_side ||
        int64_t{coded.width} * coded.height > largest_video_pixels)
        return message::too_large_to_decode(path, coded.width, coded.height);

    const AVCodec *codec = avcodec_find_decoder(coded.codec_id);
    if (!codec) return fail("no decoder for its codec");
    held.decoder.reset(avcodec_alloc_context3(codec));
    if (!held.decoder) return message::cant_malloc();
    AVCodecContext &decoder = *held.decoder;
    if (avcodec_parameters_to_context(&decoder, &coded) < 0) return message::cant_malloc();
    // One thread: the job runner spreads videos over the cores, and a
    // frame-threaded decoder would hold a set of frames per thread.
    decoder.thread_count = 1;
    decoder.max_pixels = largest_video_pixels;
    decoder.pkt_timebase = video.time_base;
    AVDictionary *decoder_options = nullptr;
    av_dict_set(&decoder_options, "threads", "1", 0);
    const int ready = avcodec_open2(&decoder, codec, &decoder_options);
    av_dict_free(&decoder_options);
    if (ready < 0) return fail("its video stream can't be decoded");

    held.stream = stream;
    const bool matroska = std::strcmp(demuxer, "matroska") == 0;
    bool webm_codecs = row->webm;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecID id = format->streams[i]->codecpar->codec_id;
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
            id != AV_CODEC_ID_OPUS && id != AV_CODEC_ID_VORBIS)
            webm_codecs = false;
    }
    held.webm_codecs = webm_codecs;

    file.width = coded.width;
    file.height = coded.height;
    file.orientation = orientation_of(&video);
    video_record &facts = file.facts;
    facts.codec = row->shown;
    if (format->duration > 0)
        facts.duration_ms = format->duration / (AV_TIME_BASE / 1000);
    else if (video.duration > 0)
        facts.duration_ms = av_rescale_q(video.duration, video.time_base, {1, 1000});
    AVRational rate = video.avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = video.r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        av_reduce(&rate.num, &rate.den, rate.num, rate.den, 1000000);
        facts.rate_num = rate.num;
        facts.rate_den = rate.den;
    }
    facts.type = source_type(*format, video, webm_codecs, matroska);
    file.taken_time = creation_time(format->metadata);
    if (!file.taken_time) file.taken_time = creation_time(video.metadata);
    return file;
}

size_t video_decode_memory(const video_file &file)
{
    // Up to 16 reference frames and the one being decoded, of up to 16-bit
    // samples at 4:2:0 (3 bytes a pixel), and the frame being converted.
    const size_t pixels = size_t(file.width) * size_t(file.height);
    return pixels * 3 * 18;
}

namespace {

// How much a frame varies: near black or of nearly one colour tells
// nothing of the clip. From its luma (or first plane), sampled on a grid.
struct frame_spread {
    double mean = 0;
    double deviation = 0;
    bool tells() const { return mean > 24 && deviation > 6; }
    double score() const { return deviation + mean / 64; }
};

frame_spread spread_of(const AVFrame &frame)
{
    const AVPixFmtDescriptor *described =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    frame_spread spread;
    if (!described || !frame.data[0] || frame.width <= 0 || frame.height <= 0) return spread;
    const bool wide = described->comp[0].depth > 8;
    const int shift = wide ? described->comp[0].depth - 8 : 0;
    const bool rgb = described->flags & AV_PIX_FMT_FLAG_RGB;
    const int step_x = std::max(1, frame.width / 64), step_y = std::max(1, frame.height / 64);
    double sum = 0, squares = 0;
    size_t count = 0;
    for (int y = 0; y < frame.height; y += step_y) {
        const uint8_t *row = frame.data[0] + ptrdiff_t(y) * frame.linesize[0];
        for (int x = 0; x < frame.width; x += step_x) {
            double value;
            if (wide) {
                uint16_t sample;
                std::memcpy(&sample, row + 2 * x, 2);
                value = sample >> shift;
            } else {
                value = row[rgb ? x * described->comp[0].step : x];
            }
            sum += value;
            squares += value * value;
            ++count;
        }
    }
    if (count == 0) return spread;
    spread.mean = sum / double(count);
    spread.deviation =
        std::sqrt(std::max(0.0, squares / double(count) - spread.mean * spread.mean));
    return spread;
}

int sws_space(AVColorSpace space)
{
    switch (space) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default: return SWS_CS_ITU601;
    }
}

// The frame as 8-bit RGB, its luma range and matrix as the stream says.
result<picture> to_rgb(const AVFrame &frame, const std::string &path)
{
    result<pixel_buffer> pixels = allocate_pixels(size_t(frame.width) * size_t(frame.height) * 3);
    if (!pixels.ok()) return pixels.error();
    unique_scaler scaler(sws_getContext(
        frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
        frame.height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler) {
        failure error = message::codec_error(path, "its frames can't be converted to RGB");
        error.kind = failure_kind::bad_input;
        return error;
    }
    const int *coefficients = sws_getCoefficients(sws_space(frame.colorspace));
    const int full = frame.color_range == AVCOL_RANGE_JPEG ? 1 : 0;
    sws_setColorspaceDetails(scaler.get(), coefficients, full, sws_getCoefficients(SWS_CS_DEFAULT),
                             1, 0, 1 << 16, 1 << 16);
    picture made;
    made.width = static_cast<uint32_t>(frame.width);
    made.height = static_cast<uint32_t>(frame.height);
    made.components = 3;
    made.colours = colour_model::rgb;
    made.pixels = std::move(*pixels);
    uint8_t *const planes[1] = {made.pixels.samples.get()};
    const int strides[1] = {frame.width * 3};
    sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    return made;
}

// The first frame at or past target (in the stream's time base) decoded
// from where the demuxer stands; the last frame of the stream when none is
// that late. Null when no frame could be decoded.
result<unique_frame> decode_to(video_file::state &held, int64_t target, bool (*stopped)())
{
    AVFormatContext &format = *held.format;
    AVCodecContext &decoder = *held.decoder;
    avcodec_flush_buffers(&decoder);
    unique_packet packet(av_packet_alloc());
    unique_frame frame(av_frame_alloc()), last;
    if (!packet || !frame) return message::cant_malloc();
    int frames = 0;
    bool draining = false;
    while (frames < most_poster_frames) {
        if (stopped && stopped()) return failure::stopped();
        if (held.past_deadline()) return unique_frame();
        if (!draining) {
            const int read = av_read_frame(&format, packet.get());
            if (read < 0) {
                draining = true;
                avcodec_send_packet(&decoder, nullptr);
            } else {
                const bool ours = packet->stream_index == held.stream;
                const int sent = ours ? avcodec_send_packet(&decoder, packet.get()) : 0;
                av_packet_unref(packet.get());
                // A broken packet is skipped, as players do; what follows
                // may still decode.
                if (sent < 0 && sent != AVERROR(EAGAIN)) continue;
                if (!ours) continue;
            }
        }
        for (;;) {
            const int received = avcodec_receive_frame(&decoder, frame.get());
            if (received == AVERROR(EAGAIN)) break;
            if (received < 0) return last ? std::move(last) : unique_frame();
            ++frames;
            const int64_t at = frame->best_effort_timestamp;
            if (at == AV_NOPTS_VALUE || at >= target) return frame;
            last = std::move(frame);
            frame.reset(av_frame_alloc());
            if (!frame) return message::cant_malloc();
        }
    }
    return last ? std::move(last) : unique_frame();
}

// A frame at about target: the first key frame after it when one comes
// within `near` (phones write one every second or two: the decode of one
// frame), else the frame at target, decoded from the key frame before it.
result<unique_frame> frame_at(video_file::state &held, int64_t target, int64_t near,
                              bool (*stopped)())
{
    AVFormatContext &format = *held.format;
    if (av_seek_frame(&format, held.stream, target, 0) >= 0) {
        result<unique_frame> found = decode_to(held, target, stopped);
        if (!found.ok() || (*found && (*found)->best_effort_timestamp != AV_NOPTS_VALUE &&
                            (*found)->best_effort_timestamp <= target + near))
            return found;
    }
    if (av_seek_frame(&format, held.stream, target, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(&format, held.stream, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
    return decode_to(held, target, stopped);
}

}  // namespace

result<picture> decode_poster(video_file &file, bool (*stopped)(), const std::string &path)
{
    video_file::state &held = *file.held;
    const AVStream &video = *held.format->streams[held.stream];
    const int64_t duration = file.facts.duration_ms;
    // At one second, a tenth of a clip shorter than ten (or the key frame
    // that follows, as near again); then further in, while the frame is
    // near black or of one colour.
    const int64_t first = std::min<int64_t>(1000, duration / 10);
    const int64_t tries_ms[] = {first, duration / 4, duration / 2, duration * 3 / 4};
    const int64_t start = video.start_time == AV_NOPTS_VALUE ? 0 : video.start_time;
    const int64_t near = av_rescale_q(std::min<int64_t>(1000, std::max<int64_t>(duration / 10, 1)),
                                      {1, 1000}, video.time_base);
    unique_frame best;
    frame_spread best_spread;
    int64_t previous = -1;
    for (const int64_t at_ms : tries_ms) {
        if (at_ms <= previous) continue;
        previous = at_ms;
        const int64_t target = start + av_rescale_q(at_ms, {1, 1000}, video.time_base);
        result<unique_frame> found = frame_at(held, target, near, stopped);
        if (!found.ok()) return found.error();
        if (!*found) continue;
        const frame_spread spread = spread_of(**found);
        if (!best || spread.score() > best_spread.score()) {
            best = std::move(*found);
            best_spread = spread;
        }
        if (best_spread.tells() || duration <= 0) break;
    }
    if (!best) {
        failure error = message::codec_error(path, held.past_deadline()
                                                       ? "no frame decoded within the time allowed"
                                                       : "no frame could be decoded (cut short?)");
        error.kind = failure_kind::bad_input;
        return error;
    }
    if (best->width != file.width || best->height != file.height) {
        failure error = message::decoded_size_differs(path, static_cast<uint32_t>(best->width),
                                                      static_cast<uint32_t>(best->height),
                                                      file.width, file.height);
        error.kind = failure_kind::bad_input;
        return error;
    }
    return to_rgb(*best, path);
}
