#include "support/video_fixture.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "support/quadrants.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

std::vector<uint8_t> read_all(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_all(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("can't write " + path);
}

void put32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// The first track header's matrix set to turn the picture clockwise by
// `turn` degrees, as a phone holding the camera upright writes it.
void set_display_turn(std::vector<uint8_t> &bytes, int turn, int width, int height)
{
    const char tag[] = "tkhd";
    auto at = std::search(bytes.begin(), bytes.end(), tag, tag + 4);
    if (at == bytes.end()) throw std::runtime_error("no tkhd box");
    uint8_t *box = &*at;  // at the type; the version byte follows
    const size_t times = box[4] == 1 ? 8 + 8 + 4 + 4 + 8 : 4 + 4 + 4 + 4 + 4;
    uint8_t *matrix = box + 4 + 4 + times + 8 + 2 + 2 + 2 + 2;
    const int32_t one = 0x10000;
    int32_t a = one, b = 0, c = 0, d = one, x = 0, y = 0;
    switch (turn) {
    case 90: a = 0, b = one, c = -one, d = 0, x = height * one; break;
    case 180: a = -one, d = -one, x = width * one, y = height * one; break;
    case 270: a = 0, b = -one, c = one, d = 0, y = width * one; break;
    default: break;
    }
    const int32_t entries[9] = {a, b, 0, c, d, 0, x, y, 0x40000000};
    for (int i = 0; i < 9; ++i) put32(matrix + 4 * i, static_cast<uint32_t>(entries[i]));
}

void run_ffmpeg(const std::vector<std::string> &args)
{
    std::vector<std::string> all = {"-nostdin", "-v", "error", "-y"};
    all.insert(all.end(), args.begin(), args.end());
    const run_result made = run_command(VISTREL_FFMPEG, all, 120);
    if (made.status != 0) throw std::runtime_error("ffmpeg failed: " + made.err);
}

// The turn's EXIF orientation: the support code maps pixels by it.
int orientation_of_turn(int turn) { return turn == 90 ? 6 : turn == 180 ? 3 : turn == 270 ? 8 : 1; }

// A binary PPM of the coded frame: the upright quadrants as the turn
// stores them.
void write_quadrants(const std::string &path, const video_recipe &spec)
{
    const int orientation = orientation_of_turn(spec.turn);
    const bool sideways = orientation >= 5;
    const int upright_width = sideways ? spec.height : spec.width;
    const int upright_height = sideways ? spec.width : spec.height;
    std::string bytes = "P6\n" + std::to_string(spec.width) + " " + std::to_string(spec.height) +
                        "\n255\n";
    const size_t header = bytes.size();
    bytes.resize(header + size_t(spec.width) * size_t(spec.height) * 3);
    for (int uy = 0; uy < upright_height; ++uy)
        for (int ux = 0; ux < upright_width; ++ux) {
            const auto [sx, sy] = stored_position(orientation, ux, uy, spec.width, spec.height);
            const rgb colour = quadrant_colour(ux, uy, upright_width, upright_height);
            for (size_t c = 0; c < 3; ++c)
                bytes[header + (size_t(sy) * size_t(spec.width) + size_t(sx)) * 3 + c] =
                    static_cast<char>(colour[c]);
        }
    write_file(path, bytes);
}

}  // namespace

void write_video(const std::string &path, const video_recipe &spec)
{
    const std::string size = std::to_string(spec.width) + "x" + std::to_string(spec.height);
    const std::string rate = std::to_string(spec.rate);
    const std::string seconds = std::to_string(spec.seconds);
    const bool webm = spec.format == video_recipe::codec::vp9_webm;
    if (spec.format == video_recipe::codec::audio_only_mp4) {
        run_ffmpeg(
            {"-f", "lavfi", "-i", "sine=duration=" + seconds, "-c:a", "aac", "-f", "mp4", path});
        return;
    }
    temp_dir work;
    std::vector<std::string> args;
    int inputs = 0;
    if (spec.black_seconds > 0) {
        args.insert(args.end(), {"-f", "lavfi", "-i",
                                 "color=black:size=" + size + ":rate=" + rate +
                                     ":duration=" + std::to_string(spec.black_seconds)});
        ++inputs;
    }
    if (spec.quadrants) {
        write_quadrants(work.file("q.ppm"), spec);
        args.insert(args.end(),
                    {"-loop", "1", "-framerate", rate, "-t", seconds, "-i", work.file("q.ppm")});
    } else {
        args.insert(args.end(),
                    {"-f", "lavfi", "-i",
                     "testsrc2=size=" + size + ":rate=" + rate + ":duration=" + seconds});
    }
    const int content = inputs++;
    if (spec.audio) {
        const double total = spec.seconds + spec.black_seconds;
        args.insert(args.end(), {"-f", "lavfi", "-i", "sine=duration=" + std::to_string(total)});
    }
    std::string picture = "[";
    picture += std::to_string(content);
    picture += ":v]format=yuv420p,setsar=1";
    if (spec.black_seconds > 0)
        args.insert(args.end(), {"-filter_complex", "[0:v]format=yuv420p,setsar=1[b];" + picture +
                                                        "[t];[b][t]concat=n=2:v=1:a=0[v]"});
    else
        args.insert(args.end(), {"-filter_complex", picture + "[v]"});
    args.insert(args.end(), {"-map", "[v]"});
    if (spec.audio) args.insert(args.end(), {"-map", std::to_string(inputs) + ":a"});
    switch (spec.format) {
    case video_recipe::codec::h264_mp4:
        args.insert(args.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-f", "mp4",
                                 "-movflags", "+faststart"});
        break;
    case video_recipe::codec::hevc_mov:
        args.insert(args.end(),
                    {"-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=none",
                     "-tag:v", "hvc1", "-f", "mov", "-movflags", "+faststart"});
        break;
    case video_recipe::codec::vp9_webm:
        args.insert(args.end(),
                    {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-b:v", "400k", "-f", "webm"});
        break;
    default: break;
    }
    if (spec.audio) args.insert(args.end(), {"-c:a", webm ? "libopus" : "aac"});
    if (spec.keyframe_every > 0)
        args.insert(args.end(), {"-g", std::to_string(spec.keyframe_every)});
    if (!spec.created.empty())
        args.insert(args.end(), {"-metadata", "creation_time=" + spec.created});
    args.push_back(path);
    run_ffmpeg(args);
    if (spec.turn != 0 && !webm) {
        std::vector<uint8_t> bytes = read_all(path);
        set_display_turn(bytes, spec.turn, spec.width, spec.height);
        write_all(path, bytes);
    }
}

std::string video_bytes(const video_recipe &spec)
{
    temp_dir made;
    const std::string path = made.file(spec.format == video_recipe::codec::vp9_webm   ? "v.webm"
                                       : spec.format == video_recipe::codec::hevc_mov ? "v.mov"
                                                                                      : "v.mp4");
    write_video(path, spec);
    return read_file(path);
}

void write_truncated_video(const std::string &path, size_t keep)
{
    write_video(path, {.seconds = 3});
    std::vector<uint8_t> bytes = read_all(path);
    if (keep < bytes.size()) bytes.resize(keep);
    write_all(path, bytes);
}
