// The in-process libheif decode of a camera-sized HEIC, 4032 x 3024 as a
// phone takes it, made at start with libheif's x265 encoder (quality 90, a
// picture of smooth shapes and fine texture): the floor for deriving images
// from HEIF photographs. Also the header alone, as the cache check needs
// it, read through the descriptor against reading the whole file into
// memory first (libheif 1.15 reads every byte of the file either way), and
// an AVIF of the same picture (aom's encoder, dav1d's decoder).
//
// Google Benchmark's CPU column counts the calling thread only; the
// counters give the whole process's CPU time per decode and the most
// threads it had while decoding: the codecs start threads of their own.
//
// Two more uses, for bench/run's HEIF corpus:
//
//   heif_bench --make in.jpg out.heic [orientation]
//       encodes a JPEG photograph as a phone would store it: x265 at
//       quality 90 and a few EXIF fields; with orientation 5 to 8, the
//       picture is stored turned and the container's irot turns it back.
//   heif_bench --floor file.heic...
//       the floor for deriving images from HEIF files: opens and decodes
//       every file in one process as vistrel -j 1 does (decode_heif, no
//       decoding threads of its own) and throws the pixels away.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/files.h"
#include "image/codecs/heif_codec.h"
#include "support/heif_fixture.h"
#include "support/jpeg_fixture.h"
#include "support/temp_dir.h"

namespace {

constexpr int camera_width = 4032, camera_height = 3024;

// Smooth shapes with fine texture: a photograph's mixture, at about a
// phone's bit rate (some 3.5 MB for the HEIC).
std::vector<uint8_t> camera_picture()
{
    std::vector<uint8_t> pixels(size_t{camera_width} * camera_height * 3);
    uint8_t *p = pixels.data();
    for (int y = 0; y < camera_height; ++y) {
        for (int x = 0; x < camera_width; ++x) {
            const double shape = std::sin(x * 0.004) * std::cos(y * 0.005) +
                                 std::sin((x + y) * 0.0021);
            const double texture = std::sin(x * 0.31 + std::sin(y * 0.07) * 3) * std::cos(y * 0.23);
            for (int c = 0; c < 3; ++c) {
                const double value = 128 + 50 * shape * (1 + 0.3 * c) + 8 * texture;
                *p++ = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
            }
        }
    }
    return pixels;
}

struct camera_file {
    temp_dir dir;
    std::string path = dir.file("camera.heic");
    int64_t size = 0;
    explicit camera_file(heif_recipe::codec format)
    {
        const std::vector<uint8_t> bytes =
            make_heif({.format = format,
                       .width = camera_width,
                       .height = camera_height,
                       .pixels = camera_picture(),
                       .exif = exif_recipe{.model = "Phone", .taken = "2024:05:06 07:08:09"}});
        write_file(path, std::string(bytes.begin(), bytes.end()));
        size = static_cast<int64_t>(bytes.size());
    }
};

const camera_file &heic()
{
    static const camera_file file(heif_recipe::codec::hevc);
    return file;
}

const camera_file &avif()
{
    static const camera_file file(heif_recipe::codec::av1);
    return file;
}

unique_fd open_file(const camera_file &file)
{
    unique_fd fd(open(file.path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        std::perror(file.path.c_str());
        std::exit(1);
    }
    return fd;
}

// The whole file by pread, as the memory road would read it.
std::vector<uint8_t> read_whole(int fd, int64_t size)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got =
            pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got <= 0) std::exit(1);
        done += static_cast<size_t>(got);
    }
    return bytes;
}

template <class T>
void check(benchmark::State &state, const result<T> &done)
{
    if (!done.ok()) state.SkipWithError(done.error().text.c_str());
}

int thread_count()
{
    int count = 0;
    if (DIR *tasks = opendir("/proc/self/task")) {
        while (const dirent *entry = readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        closedir(tasks);
    }
    return count;
}

double process_cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The whole process's CPU time per iteration, and the most threads seen
// while the iterations ran (the watcher itself not counted).
class process_watch {
public:
    explicit process_watch(benchmark::State &state)
        : state_(state), cpu_start_(process_cpu_seconds())
    {
        watcher_ = std::thread([this] {
            while (!done_) {
                const int now = thread_count() - 1;
                if (now > most_) most_ = now;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~process_watch()
    {
        done_ = true;
        watcher_.join();
        const double iterations = static_cast<double>(state_.iterations());
        state_.counters["process_cpu_ms"] = 1000 * (process_cpu_seconds() - cpu_start_) /
                                            iterations;
        state_.counters["threads"] = most_.load();
    }
    process_watch(const process_watch &) = delete;
    process_watch &operator=(const process_watch &) = delete;

private:
    benchmark::State &state_;
    double cpu_start_;
    std::atomic<bool> done_{false};
    std::atomic<int> most_{0};
    std::thread watcher_;
};

// The header: boxes, primary image, size and the EXIF block.
void header_by_descriptor(benchmark::State &state)
{
    const unique_fd fd = open_file(heic());
    for (auto _ : state) {
        const result<heif_file> opening = open_heif(fd.fd, "camera");
        check(state, opening);
        if (opening.ok()) benchmark::DoNotOptimize(heif_exif(*opening).size());
    }
    state.counters["file_bytes"] = static_cast<double>(heic().size);
}

void header_from_memory(benchmark::State &state)
{
    const unique_fd fd = open_file(heic());
    for (auto _ : state) {
        const std::vector<uint8_t> bytes = read_whole(fd.fd, heic().size);
        const result<heif_file> opening = open_heif(std::span<const uint8_t>(bytes), "camera");
        check(state, opening);
        if (opening.ok()) benchmark::DoNotOptimize(heif_exif(*opening).size());
    }
}

// A file opened by open_heif, decoded to the upright RGB picture with
// libheif's decoding threads the benchmark's argument; false when it did not
// open.
bool decode_opened(benchmark::State &state, const result<heif_file> &opening)
{
    check(state, opening);
    if (!opening.ok()) return false;
    const result<picture> decoding =
        decode_heif(*opening, static_cast<int>(state.range(0)), "camera");
    check(state, decoding);
    if (decoding.ok()) benchmark::DoNotOptimize(decoding->pixels.samples.get());
    return true;
}

// Open and decode to the upright RGB picture; the argument is libheif's
// decoding threads.
void decode_by_descriptor(benchmark::State &state, const camera_file &(*made)())
{
    const camera_file &file = made();
    const unique_fd fd = open_file(file);
    state.counters["file_bytes"] = static_cast<double>(file.size);
    const process_watch watch(state);
    for (auto _ : state) {
        if (!decode_opened(state, open_heif(fd.fd, "camera"))) break;
    }
    state.SetItemsProcessed(state.iterations() * int64_t{camera_width} * camera_height);
}

void decode_from_memory(benchmark::State &state)
{
    const unique_fd fd = open_file(heic());
    const process_watch watch(state);
    for (auto _ : state) {
        const std::vector<uint8_t> bytes = read_whole(fd.fd, heic().size);
        if (!decode_opened(state, open_heif(std::span<const uint8_t>(bytes), "camera"))) break;
    }
    state.SetItemsProcessed(state.iterations() * int64_t{camera_width} * camera_height);
}

// libheif's decode alone, into its own image: what decode_heif adds is the
// copy into the pipeline's buffer and the colour profile.
void libheif_alone(benchmark::State &state)
{
    const unique_fd fd = open_file(heic());
    const result<heif_file> opening = open_heif(fd.fd, "camera");
    check(state, opening);
    if (!opening.ok()) return;
    const process_watch watch(state);
    for (auto _ : state) {
        heif_image *image = nullptr;
        const heif_error error = heif_decode_image(opening->primary.get(), &image,
                                                   heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                                                   nullptr);
        if (error.code != heif_error_Ok) state.SkipWithError(error.message);
        heif_image_release(image);
    }
    state.SetItemsProcessed(state.iterations() * int64_t{camera_width} * camera_height);
}

BENCHMARK(header_by_descriptor)->Unit(benchmark::kMicrosecond);
BENCHMARK(header_from_memory)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(decode_by_descriptor, heic, &heic)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(decode_from_memory)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(libheif_alone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(decode_by_descriptor, avif, &avif)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The picture turned as a sideways orientation stores it: stored pixel
// (sx, sy) is upright pixel (sy, h - 1 - sx) for 6, (w - 1 - sy, sx) for 8.
std::vector<uint8_t> stored_turned(const decoded_jpeg &upright, int orientation)
{
    const int w = upright.width, h = upright.height;
    std::vector<uint8_t> stored(upright.pixels.size());
    for (int sy = 0; sy < w; ++sy)
        for (int sx = 0; sx < h; ++sx) {
            const int ux = orientation == 8 ? w - 1 - sy : sy;
            const int uy = orientation == 8 ? sx : h - 1 - sx;
            const uint8_t *from = upright.pixels.data() + (size_t(uy) * size_t(w) + size_t(ux)) * 3;
            std::copy(from, from + 3, stored.data() + (size_t(sy) * size_t(h) + size_t(sx)) * 3);
        }
    return stored;
}

int make_file(const char *in, const char *out, int orientation)
{
    const decoded_jpeg upright = decode_jpeg(in);
    if (upright.components != 3) {
        std::fprintf(stderr, "heif_bench: %s: not an RGB JPEG\n", in);
        return 1;
    }
    const bool sideways = orientation == 6 || orientation == 8;
    heif_recipe spec{.width = sideways ? upright.height : upright.width,
                     .height = sideways ? upright.width : upright.height,
                     .orientation = sideways ? orientation : 1,
                     .exif = exif_recipe{.model = "Phone",
                                         .taken = "2024:06:01 12:00:00",
                                         .exposure = std::pair<uint32_t, uint32_t>{1, 250},
                                         .flash = 16,
                                         .orientation =
                                             static_cast<uint16_t>(sideways ? orientation : 1)}};
    spec.pixels = sideways ? stored_turned(upright, orientation) : upright.pixels;
    write_heif(out, spec);
    return 0;
}

int decode_files(int count, char **paths)
{
    unsigned long long pixels = 0;
    for (int i = 0; i < count; ++i) {
        const unique_fd fd(open(paths[i], O_RDONLY | O_CLOEXEC));
        if (!fd) {
            std::fprintf(stderr, "heif_bench: can't open(%s): %s\n", paths[i],
                         std::strerror(errno));
            return 1;
        }
        const result<heif_file> opening = open_heif(fd.fd, paths[i]);
        const result<picture> decoding = opening.ok() ? decode_heif(*opening, 0, paths[i])
                                                      : opening.error();
        if (!decoding.ok()) {
            std::fprintf(stderr, "heif_bench: %s", decoding.error().text.c_str());
            return 1;
        }
        pixels += static_cast<unsigned long long>(decoding->width) * decoding->height;
    }
    std::printf("%d images, %llu decoded pixels\n", count, pixels);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && argc <= 5 && std::strcmp(argv[1], "--make") == 0)
        return make_file(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 1);
    if (argc >= 3 && std::strcmp(argv[1], "--floor") == 0) return decode_files(argc - 2, argv + 2);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
