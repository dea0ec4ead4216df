// The image pipeline on arbitrary bytes, through the program's own
// derive_image: the file opened through its album, the JPEG header, the EXIF
// texts, the derived sizes from the upright size, the decode at the
// reduction the first stale image needs, both resamplers and the encode of
// the derived images through their temporary files. A failure comes back as
// a value, as it does to the program, which then prints it and ends.
//
// Beside that, both resamplers with and without their AVX2 code on the
// decoded picture: they must give the same bytes.
//
// The last input byte chooses the derived heights, the resampler, -2 -b and
// whether the derived images are remade; libjpeg ignores bytes after the end
// of the image, and a cut-off file just ends a byte earlier.
#include <fcntl.h>
#include <libexif/exif-loader.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/files.h"
#include "fuzz_album.h"
#include "image/codecs/exif.h"
#include "image/codecs/photo_reader.h"
#include "image/derived_size.h"
#include "image/resample/resample.h"

namespace {

// Images above this many pixels are left out: the decode time and libjpeg's
// whole-image buffers (progressive and multi-scan files) grow with the full
// size, which only slows the search and trips its memory limit.
constexpr uint64_t largest_pixel_count = uint64_t{1} << 22;

// The pipeline's derived width; 0 for a size it refuses with a message of
// its own before any decoding.
int32_t width_for(int32_t width, int32_t height, int32_t setting)
{
    const derived_width_result result = derived_width(width, height, setting);
    return result.status == derived_width_result::ok ? result.width : 0;
}

// The road of exif_data_new_from_file, which feeds the file to a loader.
void read_exif_texts(const uint8_t *data, size_t size)
{
    ExifLoader *loader = exif_loader_new();
    if (!loader) std::abort();
    exif_loader_write(loader, const_cast<uint8_t *>(data), static_cast<unsigned int>(size));
    ExifData *exif = exif_loader_get_data(loader);
    exif_loader_unref(loader);
    if (!exif) return;
    for (const ExifTag tag : {EXIF_TAG_MODEL, EXIF_TAG_DATE_TIME_ORIGINAL, EXIF_TAG_EXPOSURE_TIME,
                              EXIF_TAG_APERTURE_VALUE, EXIF_TAG_FLASH})
        (void)exif_string(exif, tag);
    exif_data_free(exif);
}

// Both resamplers, with and without the AVX2 code, into buffers of exactly
// the destination's size: the bytes must be the same either way.
void compare_instruction_sets(const picture &picture, int32_t width, int32_t height)
{
    const size_t components = static_cast<size_t>(picture.components);
    const pixel_view source = picture.view();
    const size_t row = size_t(width) * components;
    for (const resampler_fn resample : {resize_area, resize_bilinear}) {
        std::vector<uint8_t> results[2];
        for (int wide = 0; wide < 2; ++wide) {
            set_resample_avx2(wide == 1);
            results[wide].resize(size_t(height) * row);
            const mutable_pixel_view target{results[wide].data(), static_cast<uint32_t>(width),
                                            static_cast<uint32_t>(height), picture.components, row};
            if (resample(source, target) != 0) std::abort();
        }
        set_resample_avx2(true);
        if (results[0] != results[1]) {
            std::fprintf(stderr, "image_fuzz: the AVX2 resampler differs from the baseline one\n");
            std::abort();
        }
    }
}

// The input's picture through the program's JPEG reader, decoded at the
// thumbnail's reduction, both resamplers compared on it; false when its
// header claims more pixels than the search should spend time on.
bool compare_resamplers(int32_t thumb_height)
{
    const std::string path = fuzz_photo_path();
    const unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) std::abort();
    result<unique_reader> reader = open_jpeg_reader(fd.fd, path);
    if (!reader.ok()) return true;
    photo_reader &source = **reader;
    const int32_t width = source.stored_width(), height = source.stored_height();
    if (uint64_t(width) * uint64_t(height) > largest_pixel_count) return false;
    const int32_t thumb_width = width_for(width, height, thumb_height);
    result<picture> decoded = source.decode(source.reduction_for(width, thumb_width), nullptr);
    if (thumb_width > 0 && decoded.ok())
        compare_instruction_sets(*decoded, thumb_width, thumb_height);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    make_fuzz_album("image_fuzz", "fuzz.jpg", "fuzz.jpg");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    read_exif_texts(data, size);
    const uint8_t choice = data[size - 1];
    const settings_record config = fuzz_settings(choice);
    write_fuzz_photo(data, size);
    if (!compare_resamplers(config.thumb_height)) return 0;
    derive_fuzz_photo(config);
    return 0;
}
