#include "image/jpeg_codec.h"

#include <cerrno>
#include <new>

#include "base/fatal.h"
#include "base/files.h"
#include "base/ordered_jobs.h"

namespace {

// Enough for the coefficients of a progressive photograph of 600 megapixels.
constexpr long largest_decode_memory = 2048L * 1024 * 1024;

// Warnings in exactly the words and lines libjpeg's standard handler would
// print; on a job thread they join the image's ordered log.
void routed_output_message(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    report_err("%s\n", text);
}

// Names the file: libjpeg's own text does not say which one it means.
[[noreturn]] void routed_error_exit(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    const auto *path = static_cast<const std::string *>(info->client_data);
    fatal("%s: %s\n", path->c_str(), text);
}

// libjpeg's standard error manager, its output routed.
void setup_errors(jpeg_error_mgr &errors)
{
    jpeg_std_error(&errors);
    errors.output_message = routed_output_message;
    errors.error_exit = routed_error_exit;
}

// The compressor for one derived file; destroyed before the rename.
struct compressor {
    jpeg_error_mgr errors;
    jpeg_compress_struct info;

    explicit compressor(const std::string &path)
    {
        setup_errors(errors);
        info.err = &errors;
        info.client_data = const_cast<std::string *>(&path);
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

pixel_buffer allocate_pixels(size_t size)
{
    pixel_buffer buffer;
    buffer.samples.reset(new (std::nothrow) JSAMPLE[size > 0 ? size : 1]);
    if (!buffer.samples) {
        errno = ENOMEM;
        fatal_errno("can't malloc");
    }
    buffer.size = size;
    return buffer;
}

decompressor::decompressor(std::FILE *source, std::string source_path) : path(std::move(source_path))
{
    setup_errors(errors);
    info.err = &errors;
    info.client_data = &path;
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, source);
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

decoded_image decode_image(decompressor &source, unsigned denom)
{
    jpeg_decompress_struct &info = source.info;
    if (denom > 1) {
        info.scale_num = 1;
        info.scale_denom = denom;
    }
    // A progressive file holds every coefficient of the full image until the
    // last scan, so a tiny file that claims a huge size could take all the
    // memory there is. Past this bound libjpeg ends the run instead.
    info.mem->max_memory_to_use = largest_decode_memory;
    memory_share share(whole_image_memory(info));
    jpeg_start_decompress(&info);

    const size_t row_size = size_t{info.output_width} * static_cast<size_t>(info.output_components);
    decoded_image picture;
    picture.pixels = allocate_pixels(size_t{info.output_height} * row_size);
    picture.width = info.output_width;
    picture.height = info.output_height;
    picture.components = info.output_components;
    picture.color_space = info.out_color_space;
    // Scanlines go straight into the buffer, a few rows per call as libjpeg
    // prefers: the same bytes as row by row through a bounce buffer.
    JSAMPROW rows[4];
    while (info.output_scanline < info.output_height) {
        const JDIMENSION left = info.output_height - info.output_scanline;
        const JDIMENSION batch = left < 4 ? left : 4;
        for (JDIMENSION r = 0; r < batch; ++r)
            rows[r] = picture.pixels.samples.get() + size_t{info.output_scanline + r} * row_size;
        jpeg_read_scanlines(&info, rows, batch);
    }
    jpeg_finish_decompress(&info);
    return picture;
}

void encode_image(const decoded_image &picture, resampler_fn resample, const std::string &name,
                  const std::string &final_path, int32_t width, int32_t height, pixel_buffer &dst)
{
    output_file file = open_output(final_path);
    const size_t row_size = size_t(width) * static_cast<size_t>(picture.components);
    {
        compressor out(final_path);
        out.info.image_width = static_cast<JDIMENSION>(width);
        out.info.image_height = static_cast<JDIMENSION>(height);
        out.info.input_components = picture.components;
        out.info.in_color_space = picture.color_space;
        jpeg_stdio_dest(&out.info, file.file.get());
        jpeg_set_defaults(&out.info);

        const size_t needed = size_t(height) * row_size;
        if (!dst.samples || dst.size < needed) dst = allocate_pixels(needed);

        JSAMPLE *samples = dst.samples.get();
        const pixel_view source{picture.pixels.samples.get(), picture.width, picture.height,
                                picture.components, size_t{picture.width} * static_cast<size_t>(picture.components)};
        const mutable_pixel_view target{samples, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                        picture.components, row_size};
        if (resample(source, target) != 0) fatal_errno("can't resize image '%s'", name.c_str());

        jpeg_start_compress(&out.info, TRUE);
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
    }
    finish_output(file);
}
