// Camera-like photographs for the tests that run vistrel from scripts:
//   make_photo WIDTH HEIGHT SEED PATH
// writes a JPEG of that size, its picture smooth gradients and noise from
// SEED, with a camera model and a date in its EXIF data.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "support/jpeg_fixture.h"

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: make_photo WIDTH HEIGHT SEED PATH\n");
        return 2;
    }
    try {
        const uint32_t seed = static_cast<uint32_t>(std::stoul(argv[3]));
        write_jpeg(argv[4], {.width = std::stoi(argv[1]),
                             .height = std::stoi(argv[2]),
                             .seed = seed,
                             .exif = exif_recipe{.model = "Camera " + std::to_string(seed % 3),
                                                 .taken = "2024:05:06 07:08:09",
                                                 .exposure = std::make_pair(1u, 250u)}});
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_photo: %s\n", e.what());
        return 1;
    }
    return 0;
}
