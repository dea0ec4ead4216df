// The floor for deriving images: decodes every JPEG named on the command
// line, in one process, at exactly the reduction vistrel picks for its scaled
// image, and throws the pixels away. No EXIF, no resampling, no encoding, no
// pages: what is left of vistrel's time beyond this is its own.
//
//   decode_floor [-H scaled_height] file.jpg...
//
// libjpeg's defaults stay as vistrel leaves them (only the scale changes),
// and the reduction comes from the same reduction_for, so both decode the
// same number of pixels. Prints the image count and the decoded pixels.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/files.h"
#include "image/derived_size.h"
#include "image/jpeg_codec.h"

namespace {

// The scaled image's width as vistrel computes it.
int32_t scaled_width_for(JDIMENSION width, JDIMENSION height, int32_t setting)
{
    return derived_width(static_cast<int32_t>(width), static_cast<int32_t>(height), setting).width;
}

// Decodes one file into a reused strip of rows; returns the decoded pixels.
unsigned long long decode_one(const char *path, int32_t setting, std::vector<JSAMPLE> &strip)
{
    unique_file file(std::fopen(path, "rb"));
    if (!file) {
        std::fprintf(stderr, "decode_floor: can't fopen(%s): %s\n", path, std::strerror(errno));
        std::exit(1);
    }
    decompressor source(file.get(), path);
    jpeg_read_header(&source.info, TRUE);
    jpeg_decompress_struct &info = source.info;
    const unsigned denom = reduction_for(
        info.image_width, scaled_width_for(info.image_width, info.image_height, setting));
    if (denom > 1) {
        info.scale_num = 1;
        info.scale_denom = denom;
    }
    jpeg_start_decompress(&info);

    // A few rows per call, as vistrel reads them; the rows are overwritten.
    constexpr JDIMENSION batch = 4;
    const size_t row_size = size_t{info.output_width} * static_cast<size_t>(info.output_components);
    if (strip.size() < batch * row_size) strip.resize(batch * row_size);
    JSAMPROW rows[batch];
    for (JDIMENSION r = 0; r < batch; ++r) rows[r] = strip.data() + r * row_size;
    while (info.output_scanline < info.output_height) {
        const JDIMENSION left = info.output_height - info.output_scanline;
        jpeg_read_scanlines(&info, rows, left < batch ? left : batch);
    }
    jpeg_finish_decompress(&info);
    return static_cast<unsigned long long>(info.output_width) * info.output_height;
}

}  // namespace

int main(int argc, char **argv)
{
    int32_t setting = 480;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-H") == 0) {
        char *end = nullptr;
        const long value = std::strtol(argv[2], &end, 10);
        if (*argv[2] == '\0' || *end != '\0' || value < 1 || value > JPEG_MAX_DIMENSION) {
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
    std::vector<JSAMPLE> strip;
    unsigned long long pixels = 0;
    for (int i = first; i < argc; ++i) pixels += decode_one(argv[i], setting, strip);
    std::printf("%d images, %llu decoded pixels\n", argc - first, pixels);
    return 0;
}
