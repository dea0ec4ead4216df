#include "image/jpeg_codec.h"

#include <cerrno>
#include <cstdlib>
#include <new>

#include "base/messages.h"
#include "base/ordered_jobs.h"
#include "image/icc_profile.h"

namespace {

// Enough for the coefficients of a progressive photograph of 600 megapixels.
constexpr long largest_decode_memory = 2048L * 1024 * 1024;

codec_errors &errors_of(j_common_ptr info) { return *reinterpret_cast<codec_errors *>(info->err); }

// Warnings in libjpeg's own words, naming the file as every other message
// does; on a job thread they join the image's ordered log.
void report_warning(j_common_ptr info)
{
    codec_errors &errors = errors_of(info);
    (*info->err->format_message)(info, errors.text);
    note::codec_warning(*errors.path, errors.text);
}

// libjpeg must not return from here: back to the guard, with its text kept.
[[noreturn]] void jump_back(j_common_ptr info)
{
    codec_errors &errors = errors_of(info);
    (*info->err->format_message)(info, errors.text);
    std::longjmp(errors.jump, 1);
}

void setup_errors(codec_errors &errors, const std::string &path)
{
    jpeg_std_error(&errors.manager);
    errors.manager.output_message = report_warning;
    errors.manager.error_exit = jump_back;
    errors.path = &path;
    errors.text[0] = '\0';
}

// The one place that calls into libjpeg with a way back: when libjpeg gives
// up, its error handler jumps here, and the failure returns as a value. The
// body must own nothing that needs destroying, since a jump skips it; what
// it fills lives with the caller.
template <class Body>
outcome guarded(codec_errors &errors, Body &&body)
{
    if (setjmp(errors.jump) != 0) return message::codec_error(*errors.path, errors.text);
    body();
    return {};
}

// The compressor for one derived file; destroyed before the rename.
struct compressor {
    codec_errors errors;
    jpeg_compress_struct info;

    explicit compressor(const std::string &path)
    {
        setup_errors(errors, path);
        info.err = &errors.manager;
        jpeg_create_compress(&info);
    }
    ~compressor() { jpeg_destroy_compress(&info); }
    compressor(const compressor &) = delete;
    compressor &operator=(const compressor &) = delete;
};

// What libjpeg holds at once for a file it cannot decode scan by scan: the
// coefficients of the whole image, 64 of 2 bytes per block of every
// component. A tiny file may claim gigabytes of it.
size_t whole_image_memory(const jpeg_decompress_struct &info)
{
    if (!jpeg_has_multiple_scans(const_cast<jpeg_decompress_struct *>(&info))) return 0;
    size_t bytes = 0;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info &component = info.comp_info[c];
        const size_t rows = (component.height_in_blocks + component.v_samp_factor - 1) /
                            component.v_samp_factor * component.v_samp_factor;
        bytes += size_t{component.width_in_blocks} * rows * sizeof(JBLOCK);
    }
    return bytes;
}

}  // namespace

result<pixel_buffer> allocate_pixels(size_t size)
{
    pixel_buffer buffer;
    buffer.samples.reset(new (std::nothrow) JSAMPLE[size > 0 ? size : 1]);
    if (!buffer.samples) {
        errno = ENOMEM;
        return message::cant_malloc();
    }
    buffer.size = size;
    return buffer;
}

// Creating the object cannot fail but for memory, which ends the run as
// every exhaustion of memory does.
decompressor::decompressor(std::FILE *source, std::string source_path)
    : path(std::move(source_path))
{
    setup_errors(errors, path);
    info.err = &errors.manager;
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, source);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
}

outcome read_header(decompressor &source)
{
    return guarded(source.errors, [&] { jpeg_read_header(&source.info, TRUE); });
}

decompressor::~decompressor() { jpeg_destroy_decompress(&info); }

unsigned reduction_for(JDIMENSION image_width, int32_t target_width)
{
    if (target_width <= 0) return 1;  // no target, no reduction
    const auto k = static_cast<int64_t>(static_cast<double>(image_width) / target_width);
    if (k > 7) return 8;
    if (k > 3) return 4;
    if (k > 1) return 2;
    return 1;
}

namespace {

void set_reduction(jpeg_decompress_struct &info, unsigned denom)
{
    if (denom > 1) {
        info.scale_num = 1;
        info.scale_denom = denom;
    }
}

}  // namespace

result<decode_footprint> measure_decode(decompressor &source, unsigned denom)
{
    jpeg_decompress_struct &info = source.info;
    set_reduction(info, denom);
    if (outcome sized = guarded(source.errors, [&] { jpeg_calc_output_dimensions(&info); });
        !sized.ok())
        return sized.error();
    return decode_footprint{size_t{info.output_width} * size_t{info.output_height} *
                                static_cast<size_t>(info.output_components),
                            whole_image_memory(info)};
}

result<decoded_image> decode_image(decompressor &source, unsigned denom)
{
    jpeg_decompress_struct &info = source.info;
    set_reduction(info, denom);
    // A progressive file holds every coefficient of the full image until the
    // last scan, so a tiny file that claims a huge size could take all the
    // memory there is. Past this bound libjpeg gives up instead.
    info.mem->max_memory_to_use = largest_decode_memory;
    if (outcome started = guarded(source.errors, [&] { jpeg_start_decompress(&info); });
        !started.ok())
        return started.error();

    const size_t row_size = size_t{info.output_width} * static_cast<size_t>(info.output_components);
    decoded_image picture;
    result<pixel_buffer> allocated = allocate_pixels(size_t{info.output_height} * row_size);
    if (!allocated.ok()) return allocated.error();
    picture.pixels = std::move(*allocated);
    picture.width = info.output_width;
    picture.height = info.output_height;
    picture.components = info.output_components;
    picture.color_space = info.out_color_space;
    // The colour profile comes along; libjpeg leaves out a malformed one,
    // with its own warning.
    JOCTET *profile = nullptr;
    unsigned int profile_size = 0;
    outcome icc = guarded(source.errors, [&] {
        if (!jpeg_read_icc_profile(&info, &profile, &profile_size)) profile = nullptr;
    });
    const std::unique_ptr<JOCTET, decltype(&std::free)> profile_owner(profile, &std::free);
    if (!icc.ok()) return icc.error();
    if (profile)
        picture.icc_profile =
            checked_icc_profile({profile, profile + profile_size}, picture.components, source.path);
    JSAMPLE *const samples = picture.pixels.samples.get();
    bool stopped = false;
    // Scanlines go straight into the buffer, a few rows per call as libjpeg
    // prefers: the same bytes as row by row through a bounce buffer.
    outcome read = guarded(source.errors, [&] {
        JSAMPROW rows[4];
        while (info.output_scanline < info.output_height) {
            if (job_cancelled()) {
                stopped = true;
                return;
            }
            const JDIMENSION left = info.output_height - info.output_scanline;
            const JDIMENSION batch = left < 4 ? left : 4;
            for (JDIMENSION r = 0; r < batch; ++r)
                rows[r] = samples + size_t{info.output_scanline + r} * row_size;
            jpeg_read_scanlines(&info, rows, batch);
        }
        jpeg_finish_decompress(&info);
    });
    if (!read.ok()) return read.error();
    if (stopped) return failure{};
    return picture;
}

outcome encode_image(const decoded_image &picture, resampler_fn resample,
                     const std::string &image_name, const open_dir &dir, const std::string &name,
                     int32_t width, int32_t height, pixel_buffer &dst)
{
    result<output_file> opened = open_output(dir, name);
    if (!opened.ok()) return opened.error();
    output_file &file = *opened;
    const size_t row_size = size_t(width) * static_cast<size_t>(picture.components);
    {
        compressor out(file.final_path());
        out.info.image_width = static_cast<JDIMENSION>(width);
        out.info.image_height = static_cast<JDIMENSION>(height);
        out.info.input_components = picture.components;
        out.info.in_color_space = picture.color_space;

        const size_t needed = size_t(height) * row_size;
        if (!dst.samples || dst.size < needed) {
            result<pixel_buffer> allocated = allocate_pixels(needed);
            if (!allocated.ok()) return allocated.error();
            dst = std::move(*allocated);
        }
        JSAMPLE *samples = dst.samples.get();
        if (outcome set = guarded(out.errors, [&] { jpeg_set_defaults(&out.info); }); !set.ok())
            return set;
        const pixel_view source{picture.pixels.samples.get(), picture.width, picture.height,
                                picture.components,
                                size_t{picture.width} * static_cast<size_t>(picture.components)};
        const mutable_pixel_view target{samples, static_cast<uint32_t>(width),
                                        static_cast<uint32_t>(height), picture.components,
                                        row_size};
        if (resample(source, target) != 0) return message::cant_resize(image_name);

        outcome written = guarded(out.errors, [&] {
            jpeg_stdio_dest(&out.info, file.stream());
            jpeg_start_compress(&out.info, TRUE);
            // Past 255 markers the numbering wraps and readers drop the profile.
            if (!picture.icc_profile.empty() && picture.icc_profile.size() <= largest_icc_profile)
                jpeg_write_icc_profile(&out.info, picture.icc_profile.data(),
                                       static_cast<unsigned int>(picture.icc_profile.size()));
            JSAMPROW rows[16];
            while (out.info.next_scanline < out.info.image_height) {
                const JDIMENSION left = out.info.image_height - out.info.next_scanline;
                const JDIMENSION batch = left < 16 ? left : 16;
                for (JDIMENSION r = 0; r < batch; ++r)
                    rows[r] = samples + size_t{out.info.next_scanline + r} * row_size;
                jpeg_write_scanlines(&out.info, rows, batch);
            }
            // libjpeg's stdio destination flushes and checks for write errors here.
            jpeg_finish_compress(&out.info);
        });
        if (!written.ok()) return written;
    }
    // A job told to stop puts nothing in place.
    if (job_cancelled()) return failure{};
    return finish_output(file);
}
