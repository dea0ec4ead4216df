#include "image/pipeline.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/derived_images.h"
#include "base/fatal.h"
#include "base/files.h"
#include "base/ordered_jobs.h"
#include "base/settings.h"
#include "image/derived_size.h"
#include "image/exif.h"
#include "image/freshness.h"
#include "image/jpeg_codec.h"
#include "image/orientation.h"
#include "image/resample.h"

namespace {

struct exif_data_freer {
    void operator()(ExifData *data) const { exif_data_free(data); }
};
using unique_exif = std::unique_ptr<ExifData, exif_data_freer>;

[[noreturn]] void refuse_size(const std::string &source_path, int32_t height, double width)
{
    if (height > largest_jpeg_dimension)
        fatal("can't scale '%s' to a height of %d pixels: JPEG images are at most %d pixels high\n",
              source_path.c_str(), height, largest_jpeg_dimension);
    fatal("can't scale '%s' to a height of %d pixels: it would be %.0f pixels wide, and JPEG "
          "images are at most %d pixels wide\n",
          source_path.c_str(), height, width, largest_jpeg_dimension);
}

// Every made derived image's size, or the end of the run before any file of
// the image is opened, naming the image.
void set_derived_sizes(const std::string &source_path, image_info &image)
{
    for (const derived_image &kind : derived_images) {
        if (kind.doubles >= 0) continue;
        const int32_t height = settings.*kind.height_option;
        const derived_width_result result = derived_width(image.width, image.height, height);
        if (result.status != derived_width_result::ok) refuse_size(source_path, height, result.exact);
        image.*kind.height = height;
        image.*kind.width = result.width;
    }
    for (const derived_image &kind : derived_images) {
        if (kind.doubles < 0 || !is_made(kind)) continue;
        const derived_image &single = derived_images[kind.doubles];
        const int64_t width = int64_t{2} * (image.*single.width);
        const int64_t height = int64_t{2} * (image.*single.height);
        if (width > largest_jpeg_dimension || height > largest_jpeg_dimension)
            refuse_size(source_path, static_cast<int32_t>(height), static_cast<double>(width));
        image.*kind.width = static_cast<int32_t>(width);
        image.*kind.height = static_cast<int32_t>(height);
    }
}

// Fills the EXIF fields of the record; returns the picture's orientation.
int read_exif(const std::string &source_path, image_info &image)
{
    unique_exif exif(exif_data_new_from_file(source_path.c_str()));
    if (!exif) {
        report_err("   %s: no EXIF data found\n", image.name.c_str());
        return 1;
    }
    image.exif_model = exif_string(exif.get(), EXIF_TAG_MODEL);
    image.exif_taken = exif_string(exif.get(), EXIF_TAG_DATE_TIME_ORIGINAL);
    image.exif_exposure = exif_string(exif.get(), EXIF_TAG_EXPOSURE_TIME);
    image.exif_aperture = exif_string(exif.get(), EXIF_TAG_APERTURE_VALUE);
    image.exif_flash = exif_string(exif.get(), EXIF_TAG_FLASH);
    if (image.exif_taken) image.taken_time = exif_date_time(*image.exif_taken);
    return exif_orientation(exif.get());
}

bool is_stale(const std::string &derived, const struct stat &source)
{
    return settings.force || !is_fresh(derived, source);
}

// Fills one record and writes whichever derived images are stale, decoding
// the source at most once, at the reduction the first of them needs.
void derive_image(const std::string &album_path, image_info &image, resampler_fn resample)
{
    const std::string source_path = join_path(album_path, image.name);
    report_out("Image %s\n", source_path.c_str());

    struct stat status;
    if (stat(source_path.c_str(), &status) != 0) fatal_errno("can't stat(%s)", source_path.c_str());
    // The first derived image is looked at before the source is opened.
    constexpr size_t kinds = std::size(derived_images);
    bool stale[kinds] = {};
    size_t first_made = 0;
    while (!is_made(derived_images[first_made])) ++first_made;
    stale[first_made] = is_stale(derived_path(album_path, derived_images[first_made], image.name), status);

    unique_file source(std::fopen(source_path.c_str(), "rb"));
    if (!source) fatal_errno("can't fopen(%s)", source_path.c_str());
    decompressor decoder(source.get(), source_path);
    jpeg_read_header(&decoder.info, TRUE);

    image.file_size = status.st_size;
    image.mtime = status.st_mtime;
    const int orientation = read_exif(source_path, image);
    // From here on the picture is what the viewer sees: upright.
    const auto stored_width = static_cast<int32_t>(decoder.info.image_width);
    const auto stored_height = static_cast<int32_t>(decoder.info.image_height);
    const bool sideways = turns_sideways(orientation);
    image.width = sideways ? stored_height : stored_width;
    image.height = sideways ? stored_width : stored_height;
    set_derived_sizes(source_path, image);

    decoded_image picture;  // decoded once, for whichever derived image needs it first
    pixel_buffer dst;       // one derived image's rows, reused for the next
    for (size_t k = first_made; k < kinds; ++k) {
        const derived_image &kind = derived_images[k];
        if (!is_made(kind)) continue;
        const std::string path = derived_path(album_path, kind, image.name);
        if (k != first_made) stale[k] = is_stale(path, status);
        if (!stale[k]) continue;
        if (!picture.pixels.samples) {
            const auto upright_width = static_cast<JDIMENSION>(image.width);
            picture = decode_image(decoder, reduction_for(upright_width, image.*kind.width));
            turn_upright(picture, orientation);
        }
        encode_image(picture, resample, image.name, path, image.*kind.width, image.*kind.height, dst);
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
    const resampler_fn resample = settings.bilinear ? resize_bilinear : resize_area;
    const int threads = settings.jobs > 0 ? settings.jobs : usable_cpus();
    if (threads <= 1 || images.size() <= 1) {
        for (image_info &image : images) derive_image(album_path, image, resample);
        return;
    }
    // Each image touches only its own record and files.
    run_ordered(images.size(), threads,
                [&](size_t i) { derive_image(album_path, images[i], resample); },
                largest_first(album_path, images));
}
