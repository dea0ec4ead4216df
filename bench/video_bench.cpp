// The cost of a video's poster (-V) against the floor of decoding one
// frame of its size: H.264 clips of 5 seconds at 30 frames a second, a key
// frame every second as phones write them, at 360p, 720p, 1080p and 2160p,
// made at start with the distribution's ffmpeg program (the tests' video
// fixture).
//
//   poster/<height>      open_video and decode_poster, as -V reads a video:
//                        the header, a seek to one second, the decode of
//                        the frames up to it, the look at how much the
//                        frame varies, the conversion to RGB.
//   one_frame/<height>   the floor: the same file opened by its path, its
//                        first frame decoded, nothing converted.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <string>

#include "base/files.h"
#include "image/codecs/video_codec.h"
#include "support/temp_dir.h"
#include "support/video_fixture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

const std::string &clip_of(int height)
{
    static temp_dir dir;
    static std::map<int, std::string> clips;
    auto found = clips.find(height);
    if (found != clips.end()) return found->second;
    const std::string path = dir.file("clip" + std::to_string(height) + ".mp4");
    write_video(path, {.width = height * 16 / 9,
                       .height = height,
                       .seconds = 5,
                       .rate = 30,
                       .keyframe_every = 30});
    return clips.emplace(height, path).first->second;
}

void poster(benchmark::State &state)
{
    const std::string &path = clip_of(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        result<video_file> file = open_video(fd.fd, path);
        if (!file.ok()) state.SkipWithError("open_video failed");
        result<picture> made = decode_poster(*file, nullptr, path);
        if (!made.ok()) state.SkipWithError("decode_poster failed");
        benchmark::DoNotOptimize(made->pixels.samples.get());
    }
}

void one_frame(benchmark::State &state)
{
    const std::string &path = clip_of(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        AVFormatContext *format = nullptr;
        if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
            state.SkipWithError("open failed");
        const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const AVCodec *codec = avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
        AVCodecContext *decoder = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar);
        decoder->thread_count = 1;
        avcodec_open2(decoder, codec, nullptr);
        AVPacket *packet = av_packet_alloc();
        AVFrame *frame = av_frame_alloc();
        bool done = false;
        while (!done && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream && avcodec_send_packet(decoder, packet) >= 0)
                done = avcodec_receive_frame(decoder, frame) >= 0;
            av_packet_unref(packet);
        }
        if (!done) {
            avcodec_send_packet(decoder, nullptr);
            done = avcodec_receive_frame(decoder, frame) >= 0;
        }
        if (!done) state.SkipWithError("no frame");
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
    }
}

BENCHMARK(poster)->Arg(360)->Arg(720)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond);
BENCHMARK(one_frame)->Arg(360)->Arg(720)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
