#include "image/codecs/jpeg_writer.h"

#include "image/codecs/icc_profile.h"

#include "image/codecs/jpeg_codec.h"
#include "image/derived_size.h"

static_assert(largest_jpeg_dimension == JPEG_MAX_DIMENSION);

outcome write_jpeg(const pixel_view &pixels, colour_model colours,
                   const std::vector<uint8_t> &icc_profile, std::FILE *to, const std::string &path)
{
    compressor out(path);
    if (outcome created = create_compressor(out); !created.ok()) return created;
    jpeg_compress_struct &info = out.info;
    info.image_width = pixels.width;
    info.image_height = pixels.height;
    info.input_components = pixels.components;
    info.in_color_space = jpeg_colour_space(colours);
    return guarded(out.errors, [&] {
        jpeg_set_defaults(&info);
        jpeg_stdio_dest(&info, to);
        jpeg_start_compress(&info, TRUE);
        // Past 255 markers the numbering wraps and readers drop the profile.
        if (!icc_profile.empty() && icc_profile.size() <= largest_icc_profile)
            jpeg_write_icc_profile(&info, icc_profile.data(),
                                   static_cast<unsigned int>(icc_profile.size()));
        JSAMPROW rows[16];
        while (info.next_scanline < info.image_height) {
            const JDIMENSION left = info.image_height - info.next_scanline;
            const JDIMENSION batch = left < 16 ? left : 16;
            for (JDIMENSION r = 0; r < batch; ++r)
                rows[r] = const_cast<uint8_t *>(pixels.samples) +
                          size_t{info.next_scanline + r} * pixels.stride;
            jpeg_write_scanlines(&info, rows, batch);
        }
        // libjpeg's stdio destination flushes and checks for write errors here.
        jpeg_finish_compress(&info);
    });
}
