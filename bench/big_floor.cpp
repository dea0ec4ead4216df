// What -b cannot leave out: for every JPEG named, the CPU time that making
// its .big file adds to a run with -2, with vistrel's own reader, resampler
// and writer. That is the decode at the finer reduction .big needs, less the
// decode .scaled2x alone needs, plus resampling .big from it (nothing when
// .big is the photograph's own size) and encoding it.
//
//   big_floor [-r rounds] file.jpg...
//
// Each part is the least of `rounds` tries (5 by default). Prints each
// file's parts and the mean over the files, in ms, to set beside the CPU
// time per photo of vistrel -f -2 on the same files. Photographs are taken
// as stored: turned ones count with their stored shape.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/files.h"
#include "image/codecs/jpeg_writer.h"
#include "image/codecs/photo_reader.h"
#include "image/derived_size.h"
#include "image/messages.h"
#include "image/resample/resample.h"

namespace {

double cpu_ms()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

template <class T>
T checked(result<T> value, const char *path)
{
    if (!value.ok()) {
        std::fprintf(stderr, "big_floor: %s: %s", path, value.error().text.c_str());
        std::exit(1);
    }
    return std::move(*value);
}

void checked(outcome done, const char *path)
{
    if (!done.ok()) {
        std::fprintf(stderr, "big_floor: %s: %s", path, done.error().text.c_str());
        std::exit(1);
    }
}

picture decode(const char *path, unsigned reduction)
{
    const unique_fd fd(open(path, O_RDONLY | O_CLOEXEC));
    if (!fd) checked(outcome(message::cant_fopen(path)), path);
    unique_reader reader = checked(open_jpeg_reader(fd.fd, path), path);
    return checked(reader->decode(reduction, nullptr), path);
}

struct parts {
    double finer_decode = 1e300, coarser_decode = 1e300, resample = 1e300, encode = 1e300;
};

parts measure(const char *path, int rounds)
{
    const unique_fd fd(open(path, O_RDONLY | O_CLOEXEC));
    if (!fd) checked(outcome(message::cant_fopen(path)), path);
    unique_reader reader = checked(open_jpeg_reader(fd.fd, path), path);
    const int32_t width = reader->stored_width(), height = reader->stored_height();
    const int32_t scaled_width = derived_width(width, height, 480).width;
    const multiplied_size dense = multiply_size(width, height, scaled_width, 480, 2);
    const multiplied_size big = multiply_size(width, height, scaled_width, 480, 3);
    const unsigned finer = reader->reduction_for(width, static_cast<int32_t>(big.width));
    const unsigned coarser = reader->reduction_for(width, static_cast<int32_t>(dense.width));

    parts best;
    std::FILE *sink = std::fopen("/dev/null", "wb");
    // One buffer for every round, its pages in place, as the run reuses its
    // buffer from one derived file to the next.
    const size_t row = size_t(big.width) * 4;  // room for any JPEG's components
    pixel_buffer resampled = checked(allocate_pixels(row * size_t(big.height)), path);
    std::memset(resampled.samples.get(), 0, resampled.size);
    for (int r = 0; r < rounds; ++r) {
        // The finer decode last, so that .big is made from it while it is
        // still in the caches, as in the run.
        double start = cpu_ms();
        (void)decode(path, coarser);
        best.coarser_decode = std::min(best.coarser_decode, cpu_ms() - start);
        start = cpu_ms();
        const picture image = decode(path, finer);
        best.finer_decode = std::min(best.finer_decode, cpu_ms() - start);

        pixel_view made = image.view();
        start = cpu_ms();
        if (made.width != big.width || made.height != big.height) {
            const mutable_pixel_view target{
                resampled.samples.get(), uint32_t(big.width), uint32_t(big.height),
                image.components, size_t(big.width) * static_cast<size_t>(image.components)};
            if (resize_area(image.view(), target) != 0)
                checked(outcome(message::cant_resize(path)), path);
            made = {target.samples, target.width, target.height, target.components, target.stride};
        }
        best.resample = std::min(best.resample, cpu_ms() - start);
        start = cpu_ms();
        checked(write_jpeg(made, image.colours, image.icc_profile, sink, "/dev/null"), path);
        best.encode = std::min(best.encode, cpu_ms() - start);
    }
    std::fclose(sink);
    return best;
}

}  // namespace

int main(int argc, char **argv)
{
    int rounds = 5, first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-r") == 0) {
        rounds = std::atoi(argv[2]);
        first = 3;
    }
    if (first >= argc || rounds < 1) {
        std::fprintf(stderr, "usage: big_floor [-r rounds] file.jpg...\n");
        return 1;
    }
    double total = 0;
    for (int i = first; i < argc; ++i) {
        const parts p = measure(argv[i], rounds);
        const double added = p.finer_decode - p.coarser_decode + p.resample + p.encode;
        std::printf("%s: decode %.2f instead of %.2f, resample %.2f, encode %.2f: %.2f ms added\n",
                    argv[i], p.finer_decode, p.coarser_decode, p.resample, p.encode, added);
        total += added;
    }
    std::printf("%d photographs: -b adds at least %.2f ms of CPU per photograph\n", argc - first,
                total / (argc - first));
    return 0;
}
