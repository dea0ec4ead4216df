// The floor for deriving images: decodes every JPEG named on the command
// line, in one process, at exactly the reduction vistrel picks for its scaled
// image, and throws the pixels away. No EXIF, no resampling, no encoding, no
// pages: what is left of vistrel's time beyond this is its own.
//
//   decode_floor [-H scaled_height] file.jpg...
//
// libjpeg's defaults stay as vistrel leaves them (only the scale changes),
// and the reduction comes from the same reader, so both decode the same
// number of pixels. Prints the image count and the decoded pixels.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/files.h"
#include "image/codecs/photo_reader.h"
#include "image/derived_size.h"

namespace {

// Decodes one file through vistrel's own JPEG reader; returns the decoded pixels.
unsigned long long decode_one(const char *path, int32_t setting)
{
    const unique_fd fd(open(path, O_RDONLY | O_CLOEXEC));
    result<unique_reader> reader = fd ? open_jpeg_reader(fd.fd, path) : message::cant_fopen(path);
    if (!reader.ok()) {
        std::fprintf(stderr, "decode_floor: %s", reader.error().text.c_str());
        std::exit(1);
    }
    photo_reader &source = **reader;
    const int32_t width = source.stored_width();
    const unsigned denom =
        source.reduction_for(width, derived_width(width, source.stored_height(), setting).width);
    const result<picture> decoded = source.decode(denom, nullptr);
    if (!decoded.ok()) {
        std::fprintf(stderr, "decode_floor: %s", decoded.error().text.c_str());
        std::exit(1);
    }
    return static_cast<unsigned long long>(decoded->width) * decoded->height;
}

}  // namespace

int main(int argc, char **argv)
{
    int32_t setting = 480;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-H") == 0) {
        char *end = nullptr;
        const long value = std::strtol(argv[2], &end, 10);
        if (*argv[2] == '\0' || *end != '\0' || value < 1 || value > largest_jpeg_dimension) {
            std::fprintf(stderr, "decode_floor: invalid argument '-H %s'\n", argv[2]);
            return 1;
        }
        setting = static_cast<int32_t>(value);
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: decode_floor [-H scaled_height] file.jpg...\n");
        return 1;
    }
    unsigned long long pixels = 0;
    for (int i = first; i < argc; ++i) pixels += decode_one(argv[i], setting);
    std::printf("%d images, %llu decoded pixels\n", argc - first, pixels);
    return 0;
}
