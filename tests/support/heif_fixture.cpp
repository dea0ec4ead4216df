#include "support/heif_fixture.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

void check(const heif_error &error, const char *what)
{
    if (error.code != heif_error_Ok)
        throw std::runtime_error(std::string("fixture: ") + what + ": " +
                                 (error.message ? error.message : ""));
}

struct context_freer {
    void operator()(heif_context *context) const { heif_context_free(context); }
};
struct encoder_releaser {
    void operator()(heif_encoder *encoder) const { heif_encoder_release(encoder); }
};
struct image_releaser {
    void operator()(heif_image *image) const { heif_image_release(image); }
};
struct handle_releaser {
    void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
};
struct options_freer {
    void operator()(heif_encoding_options *options) const { heif_encoding_options_free(options); }
};
struct nclx_freer {
    void operator()(heif_color_profile_nclx *nclx) const { heif_nclx_color_profile_free(nclx); }
};

heif_error append(heif_context *, const void *data, size_t size, void *userdata)
{
    auto *bytes = static_cast<std::vector<uint8_t> *>(userdata);
    const auto *from = static_cast<const uint8_t *>(data);
    bytes->insert(bytes->end(), from, from + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

// The RGB picture as libheif takes it: 8 bits, or 10 in 16-bit words.
std::unique_ptr<heif_image, image_releaser> rgb_image(const heif_recipe &spec,
                                                      const std::vector<uint8_t> &pixels)
{
    heif_image *created = nullptr;
    const bool deep = spec.bit_depth > 8;
    check(heif_image_create(spec.width, spec.height, heif_colorspace_RGB,
                            deep ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB,
                            &created),
          "heif_image_create");
    std::unique_ptr<heif_image, image_releaser> image(created);
    check(heif_image_add_plane(image.get(), heif_channel_interleaved, spec.width, spec.height,
                               spec.bit_depth),
          "heif_image_add_plane");
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const size_t row = size_t(spec.width) * 3;
    for (size_t y = 0; y < size_t(spec.height); ++y) {
        const uint8_t *from = pixels.data() + y * row;
        uint8_t *to = plane + y * size_t(stride);
        if (!deep) {
            std::memcpy(to, from, row);
            continue;
        }
        for (size_t i = 0; i < row; ++i) {
            const unsigned value = (from[i] * 1023u + 127) / 255;  // the same level in 10 bits
            to[2 * i] = static_cast<uint8_t>(value & 0xFF);
            to[2 * i + 1] = static_cast<uint8_t>(value >> 8);
        }
    }
    return image;
}

std::vector<uint8_t> exif_item(const heif_recipe &spec)
{
    if (!spec.exif_item.empty()) return spec.exif_item;
    std::vector<uint8_t> block = exif_block(*spec.exif);  // "Exif\0\0" first
    if (!spec.exif_header) block.erase(block.begin(), block.begin() + 6);
    const uint8_t offset = spec.exif_header ? 6 : 0;
    std::vector<uint8_t> item = {0, 0, 0, offset};
    item.insert(item.end(), block.begin(), block.end());
    return item;
}

}  // namespace

std::vector<uint8_t> heif_recipe_pixels(const heif_recipe &spec)
{
    if (!spec.pixels.empty()) return spec.pixels;
    jpeg_recipe pattern;
    pattern.width = spec.width;
    pattern.height = spec.height;
    pattern.seed = spec.seed;
    return recipe_pixels(pattern);
}

std::vector<uint8_t> make_heif(const heif_recipe &spec)
{
    if (spec.width < 1 || spec.height < 1 || (spec.bit_depth != 8 && spec.bit_depth != 10) ||
        spec.orientation < 1 || spec.orientation > 8)
        throw std::invalid_argument("fixture: bad HEIF spec");
    const std::vector<uint8_t> pixels = heif_recipe_pixels(spec);
    if (pixels.size() != size_t(spec.width) * size_t(spec.height) * 3)
        throw std::invalid_argument("fixture: pixels do not match the size");
    // Reference counted: once, and the codecs stay registered for the process.
    static const heif_error ready = heif_init(nullptr);
    check(ready, "heif_init");

    const std::unique_ptr<heif_context, context_freer> context(heif_context_alloc());
    heif_encoder *got = nullptr;
    const bool av1 = spec.format == heif_recipe::codec::av1;
    check(heif_context_get_encoder_for_format(
              context.get(), av1 ? heif_compression_AV1 : heif_compression_HEVC, &got),
          "no encoder");
    const std::unique_ptr<heif_encoder, encoder_releaser> encoder(got);
    check(heif_encoder_set_lossy_quality(encoder.get(), spec.quality), "quality");
    check(heif_encoder_set_logging_level(encoder.get(), 0), "logging level");
    if (av1 && spec.bit_depth == 10)
        check(heif_encoder_set_parameter(encoder.get(), "chroma", "422"), "chroma");

    const auto image = rgb_image(spec, pixels);
    if (!spec.icc_profile.empty())
        check(heif_image_set_raw_color_profile(image.get(), "prof", spec.icc_profile.data(),
                                               spec.icc_profile.size()),
              "ICC profile");
    if (spec.nclx) {
        const std::unique_ptr<heif_color_profile_nclx, nclx_freer> nclx(
            heif_nclx_color_profile_alloc());
        check(heif_nclx_color_profile_set_color_primaries(nclx.get(), spec.nclx->primaries),
              "primaries");
        check(heif_nclx_color_profile_set_transfer_characteristics(nclx.get(), spec.nclx->transfer),
              "transfer");
        check(heif_nclx_color_profile_set_matrix_coefficients(nclx.get(), spec.nclx->matrix),
              "matrix");
        nclx->full_range_flag = spec.nclx->full_range;
        check(heif_image_set_nclx_color_profile(image.get(), nclx.get()), "nclx");
    }

    const std::unique_ptr<heif_encoding_options, options_freer> options(
        heif_encoding_options_alloc());
    options->image_orientation = static_cast<heif_orientation>(spec.orientation);
    options->macOS_compatibility_workaround = !spec.clean_aperture;
    options->save_two_colr_boxes_when_ICC_and_nclx_available = 1;
    // libheif leaves the nclx out of HEIC files by default, for macOS.
    options->macOS_compatibility_workaround_no_nclx_profile = !spec.nclx;
    heif_image_handle *encoded = nullptr;
    check(heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(),
                                    &encoded),
          "encode");
    const std::unique_ptr<heif_image_handle, handle_releaser> handle(encoded);
    if (spec.exif || !spec.exif_item.empty()) {
        const std::vector<uint8_t> item = exif_item(spec);
        check(heif_context_add_generic_metadata(context.get(), handle.get(), item.data(),
                                                static_cast<int>(item.size()), "Exif", nullptr),
              "Exif item");
    }

    std::vector<uint8_t> bytes;
    heif_writer writer{1, append};
    check(heif_context_write(context.get(), &writer, &bytes), "write");
    return bytes;
}

void write_heif(const std::string &path, const heif_recipe &spec)
{
    const std::vector<uint8_t> bytes = make_heif(spec);
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("fixture: cannot create " + path);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written)
        throw std::runtime_error("fixture: cannot write " + path);
}

namespace {

std::vector<uint8_t>::iterator find_box(std::vector<uint8_t> &bytes, const char *type, int which)
{
    auto at = bytes.begin();
    for (int i = 0; i <= which; ++i) {
        at = std::search(i == 0 ? at : at + 4, bytes.end(), type, type + 4);
        if (at == bytes.end()) throw std::runtime_error(std::string("fixture: no box ") + type);
    }
    return at + 4;  // the payload
}

}  // namespace

namespace {

uint32_t big_endian_32(const uint8_t *bytes)
{
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

void put_big_endian_32(uint8_t *bytes, size_t value)
{
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// Where a box starts, by its type.
size_t box_start(std::vector<uint8_t> &bytes, const char *type)
{
    return static_cast<size_t>(find_box(bytes, type, 0) - bytes.begin()) - 8;
}

}  // namespace

std::vector<uint8_t> make_av1_grid()
{
    std::vector<uint8_t> grid =
        make_heif({.width = 48, .height = 48, .pixels = std::vector<uint8_t>(48 * 48 * 3, 128)});
    std::vector<uint8_t> tile = make_heif({.format = heif_recipe::codec::av1,
                                           .width = 64,
                                           .height = 64,
                                           .pixels = std::vector<uint8_t>(64 * 64 * 3, 128)});
    // The AV1 file's one item is its whole mdat.
    const size_t mdat = box_start(tile, "mdat");
    const std::vector<uint8_t> data(tile.begin() + static_cast<std::ptrdiff_t>(mdat + 8),
                                    tile.begin() + static_cast<std::ptrdiff_t>(
                                                       mdat + big_endian_32(&tile[mdat])));
    // Its sequence header OBU, after a temporal delimiter maybe.
    size_t obu = 0, obu_size = 0;
    for (;;) {
        if (obu >= data.size()) throw std::runtime_error("fixture: no AV1 sequence header");
        size_t at = obu + 1, size = 0;
        for (int shift = 0;; shift += 7) {
            const uint8_t byte = data.at(at++);
            size |= size_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80) == 0) break;
        }
        if (((data[obu] >> 3) & 15) == 1) {
            obu_size = at - obu + size;
            break;
        }
        obu = at + size;
    }
    // An av1C box as long as the hvcC it replaces, so that nothing moves: its
    // four bytes, the sequence header, then a padding OBU.
    const size_t hvcc = box_start(grid, "hvcC");
    const size_t length = big_endian_32(&grid[hvcc]);
    if (length < 12 + obu_size + 2 || length - 12 - obu_size - 2 > 127)
        throw std::runtime_error("fixture: the av1C does not fit");
    std::vector<uint8_t> av1c(length, 0);
    put_big_endian_32(av1c.data(), length);
    std::memcpy(&av1c[4], "av1C", 4);
    std::memcpy(&av1c[8], &tile[box_start(tile, "av1C") + 8], 4);
    std::memcpy(&av1c[12], &data[obu], obu_size);
    av1c[12 + obu_size] = (15 << 3) | 2;
    av1c[13 + obu_size] = static_cast<uint8_t>(length - 12 - obu_size - 2);
    std::copy(av1c.begin(), av1c.end(), grid.begin() + static_cast<std::ptrdiff_t>(hvcc));
    std::memcpy(&*find_box(grid, "hvc1", 0) - 4, "av01", 4);
    // The coded data: the mdat is last, and the tile is its only item.
    const size_t grid_mdat = box_start(grid, "mdat");
    grid.resize(grid_mdat + 8);
    put_big_endian_32(&grid[grid_mdat], 8 + data.size());
    grid.insert(grid.end(), data.begin(), data.end());
    // iloc version 1: the tile, item 1, is listed first with one extent.
    const size_t iloc = box_start(grid, "iloc") + 8;
    const int version = grid[iloc];
    const size_t offset_size = grid[iloc + 4] >> 4, length_size = grid[iloc + 4] & 15,
                 base_size = grid[iloc + 5] >> 4,
                 index_size = version > 0 ? grid[iloc + 5] & 15 : 0;
    if (version != 1 || length_size != 4 || grid[iloc + 8] != 0 || grid[iloc + 9] != 1)
        throw std::runtime_error("fixture: an iloc box of another layout");
    put_big_endian_32(&grid[iloc + 10 + 2 + 2 + base_size + 2 + index_size + offset_size],
                      data.size());
    return grid;
}

void set_grid_size(std::vector<uint8_t> &bytes, int width, int height)
{
    // Version, flags, rows - 1, columns - 1, then width and height.
    const auto grid = find_box(bytes, "idat", 0);
    if (bytes.end() - grid < 8 || (grid[1] & 1) != 0 || width > 0xFFFF || height > 0xFFFF)
        throw std::runtime_error("fixture: no grid of 16-bit fields");
    grid[4] = static_cast<uint8_t>(width >> 8);
    grid[5] = static_cast<uint8_t>(width);
    grid[6] = static_cast<uint8_t>(height >> 8);
    grid[7] = static_cast<uint8_t>(height);
}

void set_ispe(std::vector<uint8_t> &bytes, int which, uint32_t width, uint32_t height)
{
    // Version and flags, then width and height in 32 bits.
    const auto ispe = find_box(bytes, "ispe", which);
    if (bytes.end() - ispe < 12) throw std::runtime_error("fixture: ispe cut short");
    for (int i = 0; i < 4; ++i) {
        ispe[4 + i] = static_cast<uint8_t>(width >> (24 - 8 * i));
        ispe[8 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
    }
}
