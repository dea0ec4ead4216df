#include "image/pipeline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/files.h"
#include "base/messages.h"
#include "base/ordered_jobs.h"
#include "base/photo_names.h"
#include "base/progress.h"
#include "base/report.h"
#include "image/derived_size.h"
#include "image/exif.h"
#include "image/freshness.h"
#include "image/heif_codec.h"
#include "image/jpeg_codec.h"
#include "image/orientation.h"
#include "image/resample.h"

namespace {

// A failure that is the photograph's own: it could not be opened or decoded.
failure unreadable(failure error)
{
    error.photo_unreadable = true;
    return error;
}

failure refuse_size(const std::string &source_path, int32_t height, double width)
{
    if (height > largest_jpeg_dimension)
        return message::too_high(source_path, height, largest_jpeg_dimension);
    return message::too_wide(source_path, height, width, largest_jpeg_dimension);
}

// Every made derived image's size, or the failure that names the image,
// before any file of the image is opened.
outcome set_derived_sizes(const std::string &source_path, image_info &image,
                          const settings_record &config)
{
    for (const derived_image &kind : derived_images) {
        if (kind.multiplies >= 0) continue;
        const int32_t height = config.*kind.height_option;
        const derived_width_result result = derived_width(image.width, image.height, height);
        if (result.status != derived_width_result::ok)
            return refuse_size(source_path, height, result.exact);
        image.*kind.height = height;
        image.*kind.width = result.width;
    }
    for (const derived_image &kind : derived_images) {
        if (kind.multiplies < 0 || !is_made(kind, config)) continue;
        const derived_image &base = derived_images[kind.multiplies];
        const multiplied_size size = multiply_size(image.width, image.height, image.*base.width,
                                                   image.*base.height, kind.factor);
        if (size.width > largest_jpeg_dimension || size.height > largest_jpeg_dimension)
            return refuse_size(source_path, static_cast<int32_t>(size.height),
                               static_cast<double>(size.width));
        image.*kind.width = static_cast<int32_t>(size.width);
        image.*kind.height = static_cast<int32_t>(size.height);
    }
    return {};
}

// Fills the EXIF fields of the record; returns the picture's orientation.
int read_exif(const unique_exif &exif, image_info &image)
{
    if (!exif) {
        note::no_exif(image.name);
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

// A photograph opened once: the stream owns the descriptor, and status is
// what the descriptor said when it was opened.
struct photo {
    unique_file file;
    struct stat status;
};

// Never through a link, never blocking on a FIFO, and only a regular file.
result<photo> open_photo(int album_fd, const std::string &name, const std::string &path)
{
    photo opened;
    const int fd = openat(album_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return message::cant_fopen(path);
    opened.file.reset(fdopen(fd, "rb"));
    if (!opened.file) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return message::cant_fopen(path);
    }
    if (fstat(fd, &opened.status) != 0) return message::cant_stat(path);
    if (!S_ISREG(opened.status.st_mode)) return message::not_a_regular_photo(path);
    return opened;
}

bool same_time(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether the photograph is still what was opened: the same content (size,
// modification and change times of the open file), and still the file
// under its name (no rename over it). Updates status to the file's latest.
bool unchanged(photo &source, int album_fd, const std::string &name)
{
    const struct stat before = source.status;
    struct stat now;
    if (fstat(fileno(source.file.get()), &now) != 0) return false;
    source.status = now;
    struct stat named;
    if (!stat_entry(album_fd, name, named)) return false;
    return now.st_size == before.st_size && same_time(now.st_mtim, before.st_mtim) &&
           same_time(now.st_ctim, before.st_ctim) && named.st_dev == now.st_dev &&
           named.st_ino == now.st_ino;
}

result<bool> is_stale(const open_dir &cache, const std::string &name, const struct stat &source,
                      const settings_record &config)
{
    if (config.force) return true;
    result<bool> fresh = is_fresh(cache, name, source);
    if (!fresh.ok()) return fresh.error();
    return !*fresh;
}

// One reading of a photograph: its record filled, which derived files are
// stale, and the picture decoded if any is.
struct photo_reading {
    memory_share share;  // first in, last out: it covers the picture
    bool stale[derived_kinds] = {};
    decoded_image picture;  // empty when nothing is stale
};

// The largest of the stale derived images, the most that encoding holds
// beside the picture.
size_t largest_stale(const image_info &image, const photo_reading &reading, int components)
{
    size_t largest = 0;
    for (size_t k = 0; k < derived_kinds; ++k)
        if (reading.stale[k])
            largest = std::max(largest, size_t(image.*derived_images[k].width) *
                                            size_t(image.*derived_images[k].height) *
                                            static_cast<size_t>(components));
    return largest;
}

result<photo_reading> read_photo(const album_dirs &dirs, image_info &image, photo &source,
                                 const std::string &source_path, const settings_record &config)
{
    photo_reading reading;
    // Nothing of an earlier reading may stay on the record.
    image.exif_model = image.exif_taken = image.exif_exposure = image.exif_aperture =
        image.exif_flash = std::nullopt;
    image.taken_time = std::nullopt;
    const struct stat &status = source.status;

    // The first derived image is looked at before the source is read.
    size_t first_made = 0;
    while (!is_made(derived_images[first_made], config)) ++first_made;
    result<bool> stale = is_stale(dirs.cache[first_made], image.derived, status, config);
    if (!stale.ok()) return stale.error();
    reading.stale[first_made] = *stale;

    decompressor decoder(source.file.get(), source_path);
    if (outcome header = read_header(decoder); !header.ok()) return unreadable(header.error());

    image.file_size = status.st_size;
    image.mtime = status.st_mtime;
    const int orientation = read_exif(read_exif_data(fileno(source.file.get())), image);
    // From here on the picture is what the viewer sees: upright.
    const auto stored_width = static_cast<int32_t>(decoder.info.image_width);
    const auto stored_height = static_cast<int32_t>(decoder.info.image_height);
    const bool sideways = turns_sideways(orientation);
    image.width = sideways ? stored_height : stored_width;
    image.height = sideways ? stored_width : stored_height;
    if (outcome sized = set_derived_sizes(source_path, image, config); !sized.ok())
        return sized.error();

    size_t first_stale = derived_kinds;
    for (size_t k = first_made; k < derived_kinds; ++k) {
        if (!is_made(derived_images[k], config)) continue;
        if (k != first_made) {
            stale = is_stale(dirs.cache[k], image.derived, status, config);
            if (!stale.ok()) return stale.error();
            reading.stale[k] = *stale;
        }
        if (reading.stale[k] && first_stale == derived_kinds) first_stale = k;
    }
    if (first_stale == derived_kinds) return reading;

    // Decoded once, at the reduction the first stale one needs. One share
    // covers the most the reading holds: the decode, a turned copy of the
    // picture, and the largest image made from it.
    const unsigned denom = reduction_for(static_cast<JDIMENSION>(image.width),
                                         image.*derived_images[first_stale].width);
    const result<decode_footprint> footprint = measure_decode(decoder, denom);
    if (!footprint.ok()) return unreadable(footprint.error());
    reading.share = memory_share(footprint->whole_image +
                                 footprint->picture * (needs_turning(orientation) ? 2 : 1) +
                                 largest_stale(image, reading, decoder.info.output_components));
    if (job_cancelled()) return failure{};
    result<decoded_image> decoded = decode_image(decoder, denom);
    if (!decoded.ok())  // an empty failure: told to stop
        return decoded.error().text.empty() ? decoded.error() : unreadable(decoded.error());
    reading.picture = std::move(*decoded);
    if (outcome upright = turn_upright(reading.picture, orientation); !upright.ok())
        return upright.error();
    return reading;
}

// One reading of a HEIF or AVIF photograph: as above, but libheif turns the
// picture upright as its container says, so its EXIF orientation is not
// applied again, and there is no reduction: the picture is decoded whole.
result<photo_reading> read_heif_photo(const album_dirs &dirs, image_info &image, photo &source,
                                      const std::string &source_path, const settings_record &config,
                                      int decoding_threads)
{
    photo_reading reading;
    image.exif_model = image.exif_taken = image.exif_exposure = image.exif_aperture =
        image.exif_flash = std::nullopt;
    image.taken_time = std::nullopt;
    const struct stat &status = source.status;

    heif_opening opened = open_heif(fileno(source.file.get()));
    if (!opened.error.empty())
        return unreadable(message::codec_error(source_path, opened.error.c_str()));
    image.file_size = status.st_size;
    image.mtime = status.st_mtime;
    const std::vector<uint8_t> exif = heif_exif(opened.file);
    read_exif(unique_exif(exif.empty() ? nullptr
                                       : exif_data_new_from_data(exif.data(), static_cast<unsigned>(
                                                                                  exif.size()))),
              image);
    image.width = opened.file.width;
    image.height = opened.file.height;
    if (outcome sized = set_derived_sizes(source_path, image, config); !sized.ok())
        return sized.error();

    bool any_stale = false;
    for (size_t k = 0; k < derived_kinds; ++k) {
        if (!is_made(derived_images[k], config)) continue;
        result<bool> stale = is_stale(dirs.cache[k], image.derived, status, config);
        if (!stale.ok()) return stale.error();
        reading.stale[k] = *stale;
        any_stale = any_stale || *stale;
    }
    if (!any_stale) return reading;
    reading.share =
        memory_share(heif_decode_memory(opened.file) + largest_stale(image, reading, 3));
    if (job_cancelled()) return failure{};
    heif_decoding decoded = decode_heif(opened.file, decoding_threads);
    if (!decoded.error.empty())
        return unreadable(message::codec_error(source_path, decoded.error.c_str()));
    reading.picture = std::move(decoded.picture);
    return reading;
}

outcome write_derived(const album_dirs &dirs, const image_info &image, const photo_reading &reading,
                      resampler_fn resample)
{
    pixel_buffer dst;  // one derived image's rows, reused for the next
    for (size_t k = 0; k < derived_kinds; ++k) {
        if (!reading.stale[k]) continue;
        const derived_image &kind = derived_images[k];
        outcome written = encode_image(reading.picture, resample, image.name, dirs.cache[k],
                                       image.derived, image.*kind.width, image.*kind.height, dst);
        if (!written.ok()) return written;
    }
    return {};
}

// A photograph that would not hold still: what was derived from it earlier
// goes, so the next run makes it afresh from whatever it is then.
void drop_derived(const album_dirs &dirs, const image_info &image, const settings_record &config)
{
    for (size_t k = 0; k < derived_kinds; ++k)
        if (is_made(derived_images[k], config))
            unlinkat(dirs.cache[k].fd.fd, image.derived.c_str(), 0);
}

// Image indices by falling file size, a fair guess at the work each needs,
// so that no large photograph is left to run alone at the end.
std::vector<size_t> largest_first(int album_fd, std::span<const image_info> images)
{
    std::vector<std::pair<int64_t, size_t>> sizes;
    sizes.reserve(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        struct stat status;
        const bool known = stat_entry(album_fd, images[i].name, status);
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

result<bool> derive_image(const album_dirs &dirs, image_info &image, const settings_record &config,
                          int heif_threads)
{
    const bool heif = is_heif_name(image.name);
    const resampler_fn resample = config.bilinear ? resize_bilinear : resize_area;
    const std::string source_path = join_path(dirs.album.path, image.name);
    if (!config.quiet) note::image(source_path);
    for (int attempt = 0;; ++attempt) {
        result<photo> source = open_photo(dirs.album.fd.fd, image.name, source_path);
        if (!source.ok()) return unreadable(source.error());
        const result<photo_reading> reading =
            heif ? read_heif_photo(dirs, image, *source, source_path, config, heif_threads)
                 : read_photo(dirs, image, *source, source_path, config);
        // A file cut short or half rewritten under the reader may well fail
        // to decode: that is a change too, not bad input.
        if (unchanged(*source, dirs.album.fd.fd, image.name)) {
            if (!reading.ok()) return reading.error();
            if (outcome written = write_derived(dirs, image, *reading, resample); !written.ok())
                return written.error();
            return std::ranges::any_of(reading->stale, [](bool stale) { return stale; });
        }
        if (!reading.ok() && reading.error().text.empty()) return reading.error();  // told to stop
        // The pages show the file as it was last seen.
        image.file_size = source->status.st_size;
        image.mtime = source->status.st_mtime;
        if (attempt == 0) {
            note::changed_while_read(image.name);
            continue;
        }
        note::still_changing(image.name);
        drop_derived(dirs, image, config);
        return false;
    }
}

namespace {

// One photograph's job: derived, or with -k left out when it cannot be
// read, its message in its place among the others.
result<photo_outcome> photo_job(const album_dirs &dirs, image_info &image,
                                const settings_record &config, int heif_threads)
{
    const result<bool> made = derive_image(dirs, image, config, heif_threads);
    photo_outcome outcome = photo_outcome::fresh;
    if (made.ok()) {
        if (*made) outcome = photo_outcome::made;
        if (*made && config.quiet) note::made(join_path(dirs.album.path, image.name));
    } else if (config.keep_going && made.error().photo_unreadable) {
        report_failure(made.error());
        outcome = photo_outcome::unreadable;
    } else {
        return made.error();
    }
    progress_photo_done();
    return outcome;
}

}  // namespace

result<std::vector<photo_outcome>>
process_images(const album_dirs &dirs, std::span<image_info> images, const settings_record &config)
{
    std::vector<photo_outcome> outcomes(images.size(), photo_outcome::fresh);
    const int threads = config.jobs > 0 ? config.jobs : usable_cpus();
    if (threads <= 1 || images.size() <= 1) {
        // One image at a time: libheif may take the threads the jobs would.
        for (size_t i = 0; i < images.size(); ++i) {
            result<photo_outcome> done =
                photo_job(dirs, images[i], config, threads > 1 ? threads : 0);
            if (!done.ok()) return done.error();
            outcomes[i] = *done;
        }
        return outcomes;
    }
    // Each image touches only its own record, files and outcome.
    const outcome done = run_ordered(
        images.size(), threads,
        [&](size_t i) -> outcome {
            result<photo_outcome> job = photo_job(dirs, images[i], config, 0);
            if (!job.ok()) return job.error();
            outcomes[i] = *job;
            return {};
        },
        largest_first(dirs.album.fd.fd, images));
    if (!done.ok()) return done.error();
    return outcomes;
}
