// Writes the seed corpora of the fuzz targets into <dir>/image,
// <dir>/heif and <dir>/description: a few tiny JPEG files of every kind the
// pipeline meets and a few HEIF and AVIF files, made with the tests'
// fixtures (libjpeg's and libheif's own encoders), and a few description
// files.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/heif_fixture.h"
#include "support/jpeg_fixture.h"

namespace {

void make_dir(const std::string &path)
{
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

void write_seed(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

std::vector<uint8_t> text(const std::string &content) { return {content.begin(), content.end()}; }

// The image target reads its choices (heights, resamplers, which derived
// image is stale) from the last byte; a byte after the end of the image
// sets them without changing the image.
std::vector<uint8_t> with_choice(std::vector<uint8_t> jpeg, uint8_t choice)
{
    jpeg.push_back(choice);
    return jpeg;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <directory>\n");
        return 1;
    }
    const std::string dir = argv[1];
    const std::string images = dir + "/image";
    const std::string descriptions = dir + "/description";
    const std::string heifs = dir + "/heif";
    make_dir(dir);
    make_dir(images);
    make_dir(heifs);
    make_dir(descriptions);

    const exif_recipe exif{.model = "Seed Cam",
                           .taken = "2024:07:14 18:30:05",
                           .exposure = std::make_pair(1u, 250u),
                           .aperture = std::make_pair(4u, 1u),
                           .flash = 16,
                           .thumbnail_model = "Seed Thumb"};
    const std::vector<uint8_t> colour =
        make_jpeg({.width = 40, .height = 30, .quality = 60, .seed = 1});
    write_seed(images + "/colour.jpg", with_choice(colour, 0x08));  // 480 and 96, area first
    write_seed(images + "/colour-exif.jpg",
               make_jpeg({.width = 24, .height = 18, .quality = 50, .seed = 2, .exif = exif}));
    write_seed(images + "/gray.jpg",
               with_choice(make_jpeg({.width = 33, .height = 17, .components = 1, .seed = 3}),
                           0x2A));
    write_seed(images + "/cmyk.jpg",
               with_choice(make_jpeg({.width = 16, .height = 24, .components = 4, .seed = 4}),
                           0x48));
    write_seed(images + "/progressive.jpg",
               with_choice(make_jpeg({.width = 48, .height = 32, .progressive = true, .seed = 5}),
                           0x88));
    std::vector<uint8_t> truncated = colour;
    truncated.resize(truncated.size() * 3 / 5);
    write_seed(images + "/truncated.jpg", truncated);

    using codec = heif_recipe::codec;
    write_seed(heifs + "/plain.heic", with_choice(make_heif({.width = 64, .height = 64}), 0x08));
    write_seed(heifs + "/plain.avif",
               with_choice(make_heif({.format = codec::av1, .width = 40, .height = 30}), 0x48));
    write_seed(heifs + "/turned-exif.heic",
               make_heif({.width = 64, .height = 48, .orientation = 6, .exif = exif}));
    write_seed(heifs + "/ten-bit.avif",
               make_heif({.format = codec::av1, .width = 32, .height = 24, .bit_depth = 10}));
    write_seed(heifs + "/nclx.avif", make_heif({.format = codec::av1,
                                                .width = 24,
                                                .height = 16,
                                                .nclx = nclx_recipe{.primaries = 12}}));

    write_seed(descriptions + "/plain",
               text(". Summer holidays\na.jpg Sunset at sea\nb.jpg\t\t<b>Tabbed</b> caption\n"));
    write_seed(descriptions + "/crlf", text(". Title\r\na.jpg Caption\r\nb.jpg \r\n"));
    write_seed(descriptions + "/long-line",
               text("a.jpg " + std::string(1100, 'x') + " tail\nb.jpg ok"));
    write_seed(
        descriptions + "/edges",
        text(".\n. \n leading blank\na.jpg\na.jpg \nA.JPG upper\na.jpg second\n. later title"));
    write_seed(descriptions + "/nul", text(std::string("a.jpg cap\0tion\nb.jpg\0 c\n\0 d\n", 25)));
    return 0;
}
