// JPEG photographs through libjpeg, behind the reader interface.
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "base/byte_source.h"
#include "base/files.h"
#include "base/limits.h"
#include "image/codecs/icc_profile.h"
#include "image/codecs/jpeg_codec.h"
#include "image/codecs/photo_reader.h"

namespace {

// What libjpeg holds at once for a file it cannot decode scan by scan: the
// coefficients of the whole image, 64 of 2 bytes per block of every
// component. A tiny file may claim gigabytes of it.
size_t whole_image_memory(jpeg_decompress_struct &info)
{
    if (!jpeg_has_multiple_scans(&info)) return 0;
    size_t bytes = 0;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info &component = info.comp_info[c];
        // libjpeg has checked the factor to be 1 to 4 by now.
        const auto factor = static_cast<JDIMENSION>(component.v_samp_factor);
        const size_t rows = (component.height_in_blocks + factor - 1) / factor * factor;
        bytes += size_t{component.width_in_blocks} * rows * sizeof(JBLOCK);
    }
    return bytes;
}

void set_reduction(jpeg_decompress_struct &info, unsigned denom)
{
    if (denom > 1) {
        info.scale_num = 1;
        info.scale_denom = denom;
    }
}

class jpeg_reader final : public photo_reader {
public:
    explicit jpeg_reader(const std::string &path) : source_(path) {}

    // libjpeg and the EXIF reader each read the caller's descriptor by
    // position, from the bytes the file held when it was opened.
    outcome open(int fd)
    {
        const std::optional<byte_source> bytes = byte_source_of(fd);
        if (!bytes) return message::cant_fopen(source_.path);
        bytes_ = *bytes;
        return open_decompressor(source_, bytes_);
    }

    int32_t stored_width() const override { return static_cast<int32_t>(source_.info.image_width); }
    int32_t stored_height() const override
    {
        return static_cast<int32_t>(source_.info.image_height);
    }

    unique_exif exif() override { return read_exif_data(bytes_); }

    int orientation_to_apply(int exif_orientation) const override { return exif_orientation; }

    // The DCT-domain reduction: 1/2, 1/4 or 1/8 once the picture's width is
    // at least 2, 4 or 8 times the target, else full size.
    unsigned reduction_for(int32_t upright_width, int32_t target_width) const override
    {
        if (target_width <= 0) return 1;  // no target, no reduction
        const auto k = static_cast<int64_t>(static_cast<double>(upright_width) / target_width);
        if (k > 7) return 8;
        if (k > 3) return 4;
        if (k > 1) return 2;
        return 1;
    }

    result<decode_footprint> measure(unsigned reduction) override
    {
        jpeg_decompress_struct &info = source_.info;
        set_reduction(info, reduction);
        // Both calls can end in libjpeg's error exit.
        size_t whole_image = 0;
        if (outcome sized = guarded(source_.errors,
                                    [&] {
                                        jpeg_calc_output_dimensions(&info);
                                        whole_image = whole_image_memory(info);
                                    });
            !sized.ok())
            return sized.error();
        return decode_footprint{size_t{info.output_width} * size_t{info.output_height} *
                                    static_cast<size_t>(info.output_components),
                                whole_image, info.output_components};
    }

    result<picture> decode(unsigned reduction, stop_check stop) override;

private:
    byte_source bytes_;  // libjpeg's source points here: it lives as long
    decompressor source_;
};

// Decodes the whole image at 1/denom. Only the scale is changed from
// libjpeg's defaults: the derived bytes depend on them. The ICC profile comes
// along; a malformed one is left out, with libjpeg's warning.
result<picture> jpeg_reader::decode(unsigned reduction, stop_check stop)
{
    jpeg_decompress_struct &info = source_.info;
    set_reduction(info, reduction);
    // A progressive file holds every coefficient of the full image until the
    // last scan, so a tiny file that claims a huge size could take all the
    // memory there is. Past this bound libjpeg gives up instead.
    info.mem->max_memory_to_use = largest_decode_memory;
    if (outcome started = guarded(source_.errors, [&] { jpeg_start_decompress(&info); });
        !started.ok())
        return started.error();

    const size_t row_size = size_t{info.output_width} * static_cast<size_t>(info.output_components);
    picture image;
    result<pixel_buffer> allocated = allocate_pixels(size_t{info.output_height} * row_size);
    if (!allocated.ok()) return allocated.error();
    image.pixels = std::move(*allocated);
    image.width = info.output_width;
    image.height = info.output_height;
    image.components = info.output_components;
    image.colours = picture_colours(info.out_color_space);
    JOCTET *profile = nullptr;
    size_t profile_size = 0;
    outcome icc =
        guarded(source_.errors, [&] { profile_size = read_icc_profile(source_, &profile); });
    const std::unique_ptr<JOCTET, decltype(&std::free)> profile_owner(profile, &std::free);
    if (!icc.ok()) return icc.error();
    if (profile)
        image.icc_profile =
            checked_icc_profile({profile, profile + profile_size}, image.components, source_.path);
    else if (profile_size > 0)  // too large to have been kept
        note::profile_left_out(source_.path, icc_size_fault(profile_size));
    uint8_t *const samples = image.pixels.samples.get();
    bool stopped = false;
    // Scanlines go straight into the buffer, a few rows per call as libjpeg
    // prefers: the same bytes as row by row through a bounce buffer.
    outcome read = guarded(source_.errors, [&] {
        JSAMPROW rows[4];
        while (info.output_scanline < info.output_height) {
            if (stop && stop()) {
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
    if (stopped) return failure::stopped();
    return image;
}

}  // namespace

result<unique_reader> open_jpeg_reader(int fd, const std::string &path)
{
    auto reader = std::make_unique<jpeg_reader>(path);
    if (outcome opened = reader->open(fd); !opened.ok()) return opened.error();
    return unique_reader(std::move(reader));
}
