#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "album/image_info.h"
#include "image/jpeg_codec.h"
#include "image/resample.h"
#include "run/fatal.h"
#include "run/files.h"
#include "run/ordered_jobs.h"
#include "run/settings.h"

namespace {

struct exif_data_freer {
    void operator()(ExifData *data) const { exif_data_free(data); }
};
using unique_exif = std::unique_ptr<ExifData, exif_data_freer>;

constexpr int32_t largest_dimension = JPEG_MAX_DIMENSION;  // libjpeg writes nothing larger

// setting x (width / height) + 0.5, truncated: the width that keeps the
// aspect at the given height. An image far taller than wide still gets one
// pixel, and a size libjpeg cannot write is refused before any file of the
// image is opened, naming the image.
int32_t derived_width(const std::string &source_path, int32_t width, int32_t height, int32_t setting)
{
    if (setting > largest_dimension)
        fatal("can't scale '%s' to a height of %d pixels: JPEG images are at most %d pixels high\n",
              source_path.c_str(), setting, largest_dimension);
    const double aspect = static_cast<double>(width) / height;
    const double exact = setting * aspect + 0.5;
    if (exact >= largest_dimension + 1.0)
        fatal("can't scale '%s' to a height of %d pixels: it would be %.0f pixels wide, and JPEG "
              "images are at most %d pixels wide\n",
              source_path.c_str(), setting, std::floor(exact), largest_dimension);
    const auto result = static_cast<int32_t>(exact);
    return result > 0 ? result : 1;
}

void read_exif(const std::string &source_path, image_info &image)
{
    unique_exif exif(exif_data_new_from_file(source_path.c_str()));
    if (!exif) {
        report_err("   %s: no EXIF data found\n", image.name.c_str());
        return;
    }
    image.exif_model = exif_string(exif.get(), EXIF_TAG_MODEL);
    image.exif_taken = exif_string(exif.get(), EXIF_TAG_DATE_TIME_ORIGINAL);
    image.exif_exposure = exif_string(exif.get(), EXIF_TAG_EXPOSURE_TIME);
    image.exif_aperture = exif_string(exif.get(), EXIF_TAG_APERTURE_VALUE);
    image.exif_flash = exif_string(exif.get(), EXIF_TAG_FLASH);
}

bool up_to_date(const std::string &derived_path, const struct stat &source)
{
    return !settings.force && is_fresh(derived_path, source);
}

// Fills one record and writes whichever derived images are stale, decoding
// the source at most once.
void derive_image(const std::string &album_path, image_info &image,
                  const std::vector<description_entry> &captions, resampler_fn resample)
{
    const std::string source_path = join_path(album_path, image.name);
    report_out("Image %s\n", source_path.c_str());

    struct stat status;
    if (stat(source_path.c_str(), &status) != 0) fatal_errno("can't stat(%s)", source_path.c_str());
    const std::string scaled_path = album_path + "/.scaled/" + image.name;
    const bool scaled_fresh = up_to_date(scaled_path, status);

    unique_file source(std::fopen(source_path.c_str(), "rb"));
    if (!source) fatal_errno("can't fopen(%s)", source_path.c_str());
    decompressor decoder(source.get());
    jpeg_read_header(&decoder.info, TRUE);

    image.file_size = status.st_size;
    image.mtime = status.st_mtime;
    image.width = static_cast<int32_t>(decoder.info.image_width);
    image.height = static_cast<int32_t>(decoder.info.image_height);

    const std::string &caption = lookup_caption(captions, image.name);
    image.caption_from_description = &caption != &image.name;
    image.caption = caption;

    read_exif(source_path, image);

    image.scaled_height = settings.scaled_height;
    image.scaled_width = derived_width(source_path, image.width, image.height, settings.scaled_height);
    image.thumb_height = settings.thumb_height;
    image.thumb_width = derived_width(source_path, image.width, image.height, settings.thumb_height);

    pixel_buffer pixels;  // decoded once, for whichever derived image needs it first
    pixel_buffer dst;     // the scaled image's rows, reused for the thumbnail
    if (!scaled_fresh) {
        pixels = decode_image(decoder, image.scaled_width);
        encode_image(decoder, pixels, resample, image.name, scaled_path, image.scaled_width,
                     image.scaled_height, dst);
    }
    const std::string thumb_path = album_path + "/.thumbs/" + image.name;
    if (!up_to_date(thumb_path, status)) {
        if (!pixels.samples) pixels = decode_image(decoder, image.thumb_width);
        encode_image(decoder, pixels, resample, image.name, thumb_path, image.thumb_width,
                     image.thumb_height, dst);
    }
}

// Image indices by falling file size, a fair guess at the work each needs,
// so that no large photograph is left to run alone at the end.
std::vector<size_t> largest_first(const std::string &album_path, std::span<const image_info> images)
{
    std::vector<std::pair<int64_t, size_t>> sizes;
    sizes.reserve(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        struct stat status;
        const bool known = stat(join_path(album_path, images[i].name).c_str(), &status) == 0;
        sizes.emplace_back(known ? -static_cast<int64_t>(status.st_size) : 0, i);
    }
    std::stable_sort(sizes.begin(), sizes.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<size_t> order;
    order.reserve(sizes.size());
    for (const auto &entry : sizes) order.push_back(entry.second);
    return order;
}

}  // namespace

void process_images(const std::string &album_path, std::span<image_info> images)
{
    const std::vector<description_entry> captions = read_description(album_path);
    const resampler_fn resample = settings.bilinear ? resize_bilinear : resize_area;
    if (settings.jobs <= 1) {
        for (image_info &image : images) derive_image(album_path, image, captions, resample);
        return;
    }
    // Each image touches only its own record and files.
    run_ordered(images.size(), settings.jobs,
                [&](size_t i) { derive_image(album_path, images[i], captions, resample); },
                largest_first(album_path, images));
}
