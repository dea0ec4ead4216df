// The image pipeline on arbitrary bytes: the JPEG header, the EXIF texts,
// the decode at the reduction for a target width, both resamplers (with and
// without their AVX2 code, which must give the same bytes) and the encode of
// both derived images through their temporary files.
//
// A libjpeg fatal error ends the program by design (its message, status 1).
// libFuzzer must go on to the next input instead, so the decompressor's
// error_exit is replaced here, after the product has set it up, by one that
// throws: the exception unwinds through libjpeg's C frames (built with
// unwind tables) and through the product's own, whose destructors free the
// pixels and destroy the codec object as on any other road. The product's
// code is used as it is.
//
// The last input byte also chooses the derived heights, the resamplers and
// whether the scaled image counts as up to date; libjpeg ignores bytes
// after the end of the image, and a cut-off file just ends a byte earlier.
#include <libexif/exif-loader.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/derived_size.h"
#include "image/exif.h"
#include "image/jpeg_codec.h"
#include "image/orientation.h"
#include "image/resample.h"

namespace {

std::string work_dir;  // private to this process; holds the derived files

struct libjpeg_fatal {};

void throw_fatal(j_common_ptr) { throw libjpeg_fatal{}; }
void keep_quiet(j_common_ptr) {}

// Images above this many pixels are left out: the decode time and libjpeg's
// whole-image buffers (progressive and multi-scan files) grow with the full
// size, which only slows the search and trips its memory limit.
constexpr uint64_t largest_pixel_count = uint64_t{1} << 22;

constexpr int32_t heights[8] = {480, 96, 1, 2, 3, 17, 48, 1000};

// The pipeline's derived width; 0 for a size it refuses with a message of
// its own before any decoding.
int32_t width_for(JDIMENSION width, JDIMENSION height, int32_t setting)
{
    const derived_width_result result =
        derived_width(static_cast<int32_t>(width), static_cast<int32_t>(height), setting);
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
void compare_instruction_sets(const decoded_image &picture, int32_t width, int32_t height)
{
    const size_t components = static_cast<size_t>(picture.components);
    const pixel_view source{picture.pixels.samples.get(), picture.width, picture.height, picture.components,
                            size_t{picture.width} * components};
    const size_t row = size_t(width) * components;
    for (const resampler_fn resample : {resize_area, resize_bilinear}) {
        std::vector<JSAMPLE> results[2];
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

void derive(std::FILE *source, uint8_t choice)
{
    decompressor decoder(source, "fuzz.jpg");
    decoder.errors.error_exit = throw_fatal;
    decoder.errors.output_message = keep_quiet;
    jpeg_read_header(&decoder.info, TRUE);
    const JDIMENSION width = decoder.info.image_width;
    const JDIMENSION height = decoder.info.image_height;
    if (uint64_t{width} * height > largest_pixel_count) return;

    const int32_t scaled_height = heights[choice & 7];
    const int32_t thumb_height = heights[(choice >> 3) & 7];
    const int32_t scaled_width = width_for(width, height, scaled_height);
    const int32_t thumb_width = width_for(width, height, thumb_height);
    if (scaled_width == 0 || thumb_width == 0) return;
    const bool scaled_up_to_date = choice & 0x40;
    const resampler_fn first = choice & 0x80 ? resize_bilinear : resize_area;
    const resampler_fn second = choice & 0x80 ? resize_area : resize_bilinear;

    decoded_image picture =
        decode_image(decoder, reduction_for(width, scaled_up_to_date ? thumb_width : scaled_width));
    // The orientation too comes from the input's last byte.
    turn_upright(picture, (choice >> 4) % 9);
    compare_instruction_sets(picture, thumb_width, thumb_height);
    // libjpeg writes at most four components in its one scan and refuses
    // more with its fatal error, as the program does for such a file.
    if (decoder.info.num_components > 4) return;
    pixel_buffer dst;
    if (!scaled_up_to_date)
        encode_image(picture, first, "fuzz.jpg", work_dir + "/scaled.jpg", scaled_width, scaled_height,
                     dst);
    encode_image(picture, second, "fuzz.jpg", work_dir + "/thumb.jpg", thumb_width, thumb_height, dst);
}

void remove_work_dir()
{
    for (const char *name : {"/scaled.jpg", "/thumb.jpg", "/scaled.jpg.tmp", "/thumb.jpg.tmp"})
        unlink((work_dir + name).c_str());
    rmdir(work_dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vistrel-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("image_fuzz: mkdtemp");
        std::exit(1);
    }
    work_dir = pattern;
    std::atexit(remove_work_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    read_exif_texts(data, size);

    std::FILE *source = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!source) std::abort();
    try {
        derive(source, data[size - 1]);
    } catch (const libjpeg_fatal &) {
        // libjpeg's fatal error: where the program prints it and ends.
    }
    std::fclose(source);
    return 0;
}
