#include "image/derive_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/files.h"
#include "image/codecs/exif.h"
#include "image/codecs/jpeg_writer.h"
#include "image/codecs/photo_reader.h"
#include "image/derived_size.h"
#include "image/freshness.h"
#include "image/messages.h"
#include "image/orientation.h"
#include "image/resample/reduce_picture.h"
#include "image/resample/resample.h"

namespace {

// A failure that is the photograph's own: it could not be opened or decoded.
failure unreadable(failure error)
{
    error.kind = failure_kind::bad_input;
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
        if (kind.factor != 1) continue;
        const int32_t height = config.*kind.height_option;
        const derived_width_result result = derived_width(image.width, image.height, height);
        if (result.status != derived_width_result::ok)
            return refuse_size(source_path, height, result.exact);
        image.size(kind.kind).height = height;
        image.size(kind.kind).width = result.width;
    }
    for (const derived_image &kind : derived_images) {
        if (kind.factor == 1 || !is_made(kind, config)) continue;
        const derived_size base = image.size(kind.multiplies);
        const multiplied_size size =
            multiply_size(image.width, image.height, base.width, base.height, kind.factor);
        if (size.width > largest_jpeg_dimension || size.height > largest_jpeg_dimension)
            return refuse_size(source_path, static_cast<int32_t>(size.height),
                               static_cast<double>(size.width));
        image.size(kind.kind).width = static_cast<int32_t>(size.width);
        image.size(kind.kind).height = static_cast<int32_t>(size.height);
    }
    return {};
}

// Fills the EXIF fields of the record; returns the EXIF orientation.
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

// A photograph opened once, and what its descriptor said when it was opened.
struct photo {
    unique_fd fd;
    struct stat status;
};

// Never through a link, never blocking on a FIFO, and only a regular file.
// None when it is gone (ENOENT, errno kept).
result<std::optional<photo>> open_photo(int album_fd, const std::string &name,
                                        const std::string &path)
{
    photo opened;
    opened.fd =
        unique_fd(openat(album_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!opened.fd) {
        if (errno == ENOENT) return std::optional<photo>();
        return message::cant_fopen(path);
    }
    if (fstat(opened.fd.fd, &opened.status) != 0) return message::cant_stat(path);
    if (!S_ISREG(opened.status.st_mode)) return message::not_a_regular_photo(path);
    return std::optional<photo>(std::move(opened));
}

bool same_time(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether two looks at a photograph saw the same file (device and inode)
// with the same content (size, modification and change times, to the
// nanosecond: a replacement within the same second is a change too).
bool same_photo(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           same_time(a.st_mtim, b.st_mtim) && same_time(a.st_ctim, b.st_ctim);
}

// Whether the photograph is still what was opened, and still the file under
// its name (no rename over it). Updates status to the file's latest.
bool unchanged(photo &source, int album_fd, const std::string &name)
{
    const struct stat before = source.status;
    struct stat now;
    if (fstat(source.fd.fd, &now) != 0) return false;
    source.status = now;
    struct stat named;
    if (!stat_entry(album_fd, name, named)) return false;
    return same_photo(now, before) && same_photo(named, now);
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
// stale, and the picture decoded, upright, if any is.
struct photo_reading {
    bool stale[derived_kinds] = {};
    picture image;  // empty when nothing is stale
    // How many times smaller the picture is made once the first stale
    // derived image is written (1: never).
    unsigned then_reduce = 1;
};

// The largest of the stale derived images, the most that encoding holds
// beside the picture.
size_t largest_stale(const image_info &image, const photo_reading &reading, int components)
{
    size_t largest = 0;
    for (size_t k = 0; k < derived_kinds; ++k)
        if (reading.stale[k])
            largest = std::max(largest, size_t(image.size(derived_images[k].kind).width) *
                                            size_t(image.size(derived_images[k].kind).height) *
                                            static_cast<size_t>(components));
    return largest;
}

// The road of every photograph, whatever its format: the first derived file
// looked at before the photograph is read, the header and EXIF, the upright
// and derived sizes, which derived files are stale, then one memory share for
// the most the reading holds, the decode at the reduction the first stale
// one needs, and the turn upright.
result<photo_reading> read_photo(const album_dirs &dirs, image_info &image, const photo &source,
                                 const std::string &source_path, const settings_record &config,
                                 const derive_context &context)
{
    photo_reading reading;
    // Nothing of an earlier reading may stay on the record.
    image.exif_model = image.exif_taken = image.exif_exposure = image.exif_aperture =
        image.exif_flash = std::nullopt;
    image.taken_time = std::nullopt;
    image.video = std::nullopt;
    const struct stat &status = source.status;

    size_t first_made = 0;
    while (!is_made(derived_images[first_made], config)) ++first_made;
    result<bool> stale = is_stale(dirs.cache[first_made], image.derived, status, config);
    if (!stale.ok()) return stale.error();
    reading.stale[first_made] = *stale;

    result<unique_reader> opened =
        reader_for(image.name).open(source.fd.fd, source_path, context.heif_threads);
    if (!opened.ok()) return unreadable(opened.error());
    photo_reader &reader = **opened;

    image.file_size = status.st_size;
    image.mtime = status.st_mtime;
    // A video has no EXIF data: its container tells its facts instead.
    image.video = reader.video();
    if (image.video) image.taken_time = reader.recorded();
    const int orientation =
        reader.orientation_to_apply(image.video ? 1 : read_exif(reader.exif(), image));
    // From here on the picture is what the viewer sees: upright.
    const bool sideways = turns_sideways(orientation);
    image.width = sideways ? reader.stored_height() : reader.stored_width();
    image.height = sideways ? reader.stored_width() : reader.stored_height();
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
    const unsigned reduction =
        reader.reduction_for(image.width, image.size(derived_images[first_stale].kind).width);
    // The big-screen image alone needs a larger decode: the others are made
    // from the picture brought down to the reduction they would have been
    // decoded at without it, so -b adds to them only that one pass.
    if (first_stale == index_of(big_image))
        for (size_t k = first_stale + 1; k < derived_kinds; ++k)
            if (reading.stale[k]) {
                const unsigned then =
                    reader.reduction_for(image.width, image.size(derived_images[k].kind).width);
                if (then > reduction) reading.then_reduce = then / reduction;
                break;
            }
    const result<decode_footprint> footprint = reader.measure(reduction);
    if (!footprint.ok()) return unreadable(footprint.error());
    if (!context.claim_memory(footprint->working +
                              footprint->picture * (needs_turning(orientation) ? 2 : 1) +
                              largest_stale(image, reading, footprint->components)))
        return failure::stopped();
    result<picture> decoded = reader.decode(reduction, context.stopped);
    if (!decoded.ok())
        return decoded.error().is_stop() ? decoded.error() : unreadable(decoded.error());
    reading.image = std::move(*decoded);
    if (outcome upright = turn_upright(reading.image, orientation); !upright.ok())
        return upright.error();
    return reading;
}

// One derived file: the picture resampled into dst (reused when it holds at
// least the bytes needed, else replaced) and written as a JPEG file under
// its temporary name, with the photograph's modification time, closed but
// not yet in place.
result<output_file> write_derived_file(const picture &image, resampler_fn resample,
                                       const std::string &image_name, const open_dir &dir,
                                       const std::string &name, int32_t width, int32_t height,
                                       const timespec &modified, pixel_buffer &dst)
{
    // Parts share the gallery's lock, and the same part may run twice at once.
    result<output_file> opened = open_output(dir, name, message::cant_fopen, temp_scope::run);
    if (!opened.ok()) return opened.error();
    output_file &file = *opened;
    pixel_view made = image.view();
    // Either resampler gives a picture of its own size back byte for byte.
    if (made.width != static_cast<uint32_t>(width) ||
        made.height != static_cast<uint32_t>(height)) {
        const size_t row_size = size_t(width) * static_cast<size_t>(image.components);
        const size_t needed = size_t(height) * row_size;
        if (!dst.samples || dst.size < needed) {
            result<pixel_buffer> allocated = allocate_pixels(needed);
            if (!allocated.ok()) return allocated.error();
            dst = std::move(*allocated);
        }
        const mutable_pixel_view target{dst.samples.get(), static_cast<uint32_t>(width),
                                        static_cast<uint32_t>(height), image.components, row_size};
        if (resample(made, target) != 0) return message::cant_resize(image_name);
        made = {target.samples, target.width, target.height, target.components, target.stride};
    }
    if (outcome written =
            write_jpeg(made, image.colours, image.icc_profile, file.stream(), file.final_path());
        !written.ok())
        return written.error();
    // The photograph's own time: a change to it after this reading, however
    // late, leaves the derived file older than the photograph, stale for the
    // next run.
    const timespec times[2] = {{0, UTIME_OMIT}, modified};
    if (futimens(fileno(file.stream()), times) != 0)
        return message::cant_set_time(file.final_path());
    if (outcome closed = close_output(file); !closed.ok()) return closed.error();
    return std::move(file);
}

result<std::vector<output_file>> write_derived(const album_dirs &dirs, const image_info &image,
                                               photo_reading &reading, resampler_fn resample,
                                               const timespec &modified, stop_check stopped)
{
    std::vector<output_file> written;
    pixel_buffer dst;  // one derived image's rows, reused for the next
    for (size_t k = 0; k < derived_kinds; ++k) {
        if (!reading.stale[k]) continue;
        if (stopped()) return failure::stopped();
        const derived_image &kind = derived_images[k];
        result<output_file> file = write_derived_file(reading.image, resample, image.name,
                                                      dirs.cache[k], image.derived,
                                                      image.size(kind.kind).width,
                                                      image.size(kind.kind).height, modified, dst);
        if (!file.ok()) return file.error();
        written.push_back(std::move(*file));
        if (reading.then_reduce > 1) {
            if (outcome reduced = reduce_picture(reading.image, reading.then_reduce); !reduced.ok())
                return reduced.error();
            reading.then_reduce = 1;
        }
    }
    return written;
}

}  // namespace

result<derived_files> derive_image(const album_dirs &dirs, image_info &image,
                                   const settings_record &config, const derive_context &context)
{
    const resampler_fn resample = config.bilinear ? resize_bilinear : resize_area;
    const std::string source_path = join_path(dirs.album.path, image.name);
    for (int attempt = 0;; ++attempt) {
        result<std::optional<photo>> opened = open_photo(dirs.album.fd.fd, image.name, source_path);
        if (!opened.ok()) return unreadable(opened.error());
        if (!*opened) {
            note::gone_while_read(image.name);
            derived_files gone;
            gone.gone = true;
            return gone;
        }
        photo &source = **opened;
        const timespec modified = source.status.st_mtim;
        result<photo_reading> reading =
            read_photo(dirs, image, source, source_path, config, context);
        if (!reading.ok() && reading.error().is_stop()) return reading.error();
        result<std::vector<output_file>> written =
            reading.ok() ? write_derived(dirs, image, *reading, resample, modified, context.stopped)
                         : result<std::vector<output_file>>(reading.error());
        if (!written.ok() && written.error().is_stop()) return written.error();
        // Looked at once everything is written and nothing yet in place: a
        // file cut short or half rewritten under the reader may well fail to
        // decode, and that is a change too, not bad input.
        if (unchanged(source, dirs.album.fd.fd, image.name)) {
            if (!written.ok()) return written.error();
            derived_files made;
            made.written = std::move(*written);
            made.read_as = source.status;
            return made;
        }
        // The pages show the file as it was last seen.
        image.file_size = source.status.st_size;
        image.mtime = source.status.st_mtime;
        if (attempt == 0) {
            note::changed_while_read(image.name);
            continue;
        }
        note::still_changing(image.name);
        // What was derived from it earlier goes, so the next run makes it
        // afresh from whatever it is then.
        return derived_files{{}, true, false};
    }
}

outcome place_derived(const album_dirs &dirs, const image_info &image, derived_files &files,
                      const settings_record &config)
{
    // Placing may come long after the reading (an earlier photograph still
    // being derived): one replaced meanwhile, even within the same second,
    // must not keep what was derived from the one it replaced.
    if (!files.written.empty()) {
        struct stat named;
        if (!stat_entry(dirs.album.fd.fd, image.name, named) || !same_photo(named, files.read_as)) {
            note::still_changing(image.name);
            files.written.clear();
            files.drop_earlier = true;
        }
    }
    if (files.drop_earlier)
        for (size_t k = 0; k < derived_kinds; ++k)
            if (is_made(derived_images[k], config))
                unlinkat(dirs.cache[k].fd.fd, image.derived.c_str(), 0);
    for (output_file &file : files.written)
        if (outcome placed = place_output(file); !placed.ok()) return placed;
    files.written.clear();
    return {};
}
