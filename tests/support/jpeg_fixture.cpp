#include "support/jpeg_fixture.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>
#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

namespace {

// libjpeg ends the process on error unless error_exit leaves by longjmp; the
// jump lands in a frame that holds only plain C objects, which then turns
// the message into an exception.
struct error_trap {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void trap_error_exit(j_common_ptr info)
{
    auto *trap = reinterpret_cast<error_trap *>(info->err);
    (*info->err->format_message)(info, trap->message);
    std::longjmp(trap->jump, 1);
}

void trap_output_message(j_common_ptr) {}  // counted in num_warnings; printing would clutter logs

void validate(const jpeg_recipe &recipe)
{
    if (recipe.width < 1 || recipe.height < 1 || recipe.width > JPEG_MAX_DIMENSION ||
        recipe.height > JPEG_MAX_DIMENSION)
        throw std::invalid_argument("fixture: bad size");
    if (recipe.components != 1 && recipe.components != 3 && recipe.components != 4)
        throw std::invalid_argument("fixture: components must be 1, 3 or 4");
    if (recipe.quality < 1 || recipe.quality > 100)
        throw std::invalid_argument("fixture: quality must be 1 to 100");
}

// Per-axis gradient tables: sample = clamp(across[c][x] + down[c][y] + noise).
// Linear ramps alone would come out of any linear resampler unchanged, so
// each component also carries a parabolic bump.
struct gradient_tables {
    std::vector<int> across[4];
    std::vector<int> down[4];
};

int ramp(int i, int n, int range) { return n > 1 ? range * i / (n - 1) : 0; }

int bump(int i, int n, int range)
{
    if (n < 2) return 0;
    const int64_t last = n - 1;
    return static_cast<int>(4 * range * int64_t{i} * (last - i) / (last * last));
}

gradient_tables make_tables(int width, int height)
{
    gradient_tables t;
    for (int c = 0; c < 4; ++c) {
        t.across[c].resize(width);
        t.down[c].resize(height);
    }
    for (int x = 0; x < width; ++x) {
        t.across[0][x] = 8 + ramp(x, width, 190);
        t.across[1][x] = 8 + bump(x, width, 60);
        t.across[2][x] = 8 + ramp(width - 1 - x, width, 110);
        t.across[3][x] = 8 + bump(x, width, 110);
    }
    for (int y = 0; y < height; ++y) {
        t.down[0][y] = bump(y, height, 50);
        t.down[1][y] = ramp(y, height, 180);
        t.down[2][y] = ramp(height - 1 - y, height, 120);
        t.down[3][y] = bump(y, height, 120);
    }
    return t;
}

// Builds the EXIF block as libexif saves it ("Exif\0\0" and a TIFF header
// first), with each tag in the IFD where cameras record it.
class exif_builder {
public:
    exif_builder() : data_(exif_data_new()), mem_(exif_mem_new_default())
    {
        if (!data_ || !mem_) throw std::runtime_error("fixture: libexif allocation failed");
        exif_data_set_byte_order(data_, EXIF_BYTE_ORDER_INTEL);
        // Write exactly the tags asked for; no mandatory tags added.
        exif_data_unset_option(data_, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    }
    ~exif_builder()
    {
        exif_data_unref(data_);
        exif_mem_unref(mem_);
    }
    exif_builder(const exif_builder &) = delete;
    exif_builder &operator=(const exif_builder &) = delete;

    void ascii(ExifIfd ifd, ExifTag tag, const std::string &text)
    {
        // The count includes the terminating NUL.
        ExifEntry *e = add(ifd, tag, EXIF_FORMAT_ASCII, text.size() + 1);
        std::memcpy(e->data, text.c_str(), text.size() + 1);
    }

    void rational(ExifIfd ifd, ExifTag tag, std::pair<uint32_t, uint32_t> value)
    {
        ExifEntry *e = add(ifd, tag, EXIF_FORMAT_RATIONAL, 1);
        exif_set_rational(e->data, exif_data_get_byte_order(data_),
                          ExifRational{value.first, value.second});
    }

    void short_value(ExifIfd ifd, ExifTag tag, uint16_t value)
    {
        ExifEntry *e = add(ifd, tag, EXIF_FORMAT_SHORT, 1);
        exif_set_short(e->data, exif_data_get_byte_order(data_), value);
    }

    // The embedded thumbnail: without one, libexif drops IFD 1 on reading.
    void thumbnail(const std::vector<uint8_t> &jpeg)
    {
        auto *copy = static_cast<unsigned char *>(std::malloc(jpeg.size()));
        if (!copy) throw std::runtime_error("fixture: malloc failed");
        std::memcpy(copy, jpeg.data(), jpeg.size());
        std::free(data_->data);  // ExifData frees it with the default allocator
        data_->data = copy;
        data_->size = static_cast<unsigned int>(jpeg.size());
    }

    std::vector<uint8_t> save()
    {
        unsigned char *bytes = nullptr;
        unsigned int size = 0;
        exif_data_save_data(data_, &bytes, &size);
        if (!bytes) throw std::runtime_error("fixture: exif_data_save_data failed");
        std::vector<uint8_t> block(bytes, bytes + size);
        std::free(bytes);  // exif_data_save_data allocates with the default allocator
        return block;
    }

private:
    ExifEntry *add(ExifIfd ifd, ExifTag tag, ExifFormat format, size_t components)
    {
        ExifEntry *e = exif_entry_new_mem(mem_);
        if (!e) throw std::runtime_error("fixture: exif_entry_new failed");
        const size_t size = components * exif_format_get_size(format);
        e->data = static_cast<unsigned char *>(exif_mem_alloc(mem_, static_cast<ExifLong>(size)));
        if (!e->data) {
            exif_entry_unref(e);
            throw std::runtime_error("fixture: exif_mem_alloc failed");
        }
        e->tag = tag;
        e->format = format;
        e->components = components;
        e->size = static_cast<unsigned int>(size);
        exif_content_add_entry(data_->ifd[ifd], e);
        exif_entry_unref(e);  // the IFD holds its own reference
        return e;
    }

    ExifData *data_;
    ExifMem *mem_;
};

}  // namespace

std::vector<uint8_t> exif_block(const exif_recipe &exif)
{
    exif_builder b;
    if (exif.model) b.ascii(EXIF_IFD_0, EXIF_TAG_MODEL, *exif.model);
    if (exif.orientation) b.short_value(EXIF_IFD_0, EXIF_TAG_ORIENTATION, *exif.orientation);
    if (exif.thumbnail_model) {
        b.ascii(EXIF_IFD_1, EXIF_TAG_MODEL, *exif.thumbnail_model);
        b.short_value(EXIF_IFD_1, EXIF_TAG_COMPRESSION, 6);  // JPEG
        jpeg_recipe thumb;
        thumb.width = 16;
        thumb.height = 12;
        thumb.quality = 50;
        b.thumbnail(make_jpeg(thumb));
    }
    if (exif.taken) b.ascii(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL, *exif.taken);
    if (exif.exposure) b.rational(EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME, *exif.exposure);
    if (exif.aperture) b.rational(EXIF_IFD_EXIF, EXIF_TAG_APERTURE_VALUE, *exif.aperture);
    if (exif.flash) b.short_value(EXIF_IFD_EXIF, EXIF_TAG_FLASH, *exif.flash);
    return b.save();
}

namespace {

// The APP2 markers of the profile, in order, each one's payload complete.
std::vector<std::vector<uint8_t>> icc_markers(const icc_recipe &icc)
{
    if (icc.chunk_size < 1 || icc.chunk_size > 65519)
        throw std::invalid_argument("fixture: ICC chunk size must be 1 to 65519");
    const size_t count = (icc.profile.size() + icc.chunk_size - 1) / icc.chunk_size;
    if (count < 1 || count > 254)
        throw std::invalid_argument("fixture: ICC profile in 1 to 254 markers");
    if (icc.damage == icc_recipe::fault::chunk_missing && count < 2)
        throw std::invalid_argument("fixture: a missing ICC chunk needs two or more");
    static constexpr char signature[] = "ICC_PROFILE";  // with its NUL: 12 bytes
    std::vector<std::vector<uint8_t>> markers;
    for (size_t i = 0; i < count; ++i) {
        if (icc.damage == icc_recipe::fault::chunk_missing && i == 1) continue;
        const size_t begin = i * icc.chunk_size;
        const size_t end = std::min(icc.profile.size(), begin + icc.chunk_size);
        std::vector<uint8_t> marker(signature, signature + sizeof signature);
        const bool miscounted = icc.damage == icc_recipe::fault::counts_differ && i + 1 == count;
        marker.push_back(static_cast<uint8_t>(i + 1));
        marker.push_back(static_cast<uint8_t>(miscounted ? count + 1 : count));
        marker.insert(marker.end(), icc.profile.begin() + static_cast<std::ptrdiff_t>(begin),
                      icc.profile.begin() + static_cast<std::ptrdiff_t>(end));
        markers.push_back(std::move(marker));
    }
    return markers;
}

// The scan script of recipe.scans scans: a DC scan, then a scan of each AC
// coefficient of each component at some point transform, refined bit by
// bit down to the last, the extra scans spread over the coefficients.
std::vector<jpeg_scan_info> scan_script(const jpeg_recipe &recipe)
{
    if (recipe.scans <= 0) return {};
    constexpr int coefficients = 63;
    constexpr int deepest = 10;  // the largest point transform libjpeg writes
    const int slots = coefficients * recipe.components;
    const int extra = recipe.scans - 1 - slots;
    if (extra < 0 || extra > deepest * slots)
        throw std::invalid_argument("fixture: scans out of reach for the components");
    std::vector<jpeg_scan_info> script(1);
    script[0].comps_in_scan = recipe.components;
    for (int c = 0; c < recipe.components; ++c) script[0].component_index[c] = c;
    for (int slot = 0; slot < slots; ++slot) {
        const int depth = extra / slots + (slot < extra % slots ? 1 : 0);
        for (int al = depth; al >= 0; --al) {
            jpeg_scan_info scan{};
            scan.comps_in_scan = 1;
            scan.component_index[0] = slot / coefficients;
            scan.Ss = scan.Se = 1 + slot % coefficients;
            scan.Ah = al == depth ? 0 : al + 1;
            scan.Al = al;
            script.push_back(scan);
        }
    }
    return script;
}

// Encodes into a buffer that libjpeg allocates; *out stays owned by the
// caller on every road. Returns false with the message on a libjpeg error.
bool encode(const jpeg_recipe &recipe, const std::vector<uint8_t> &pixels,
            const std::vector<uint8_t> &exif, const std::vector<std::vector<uint8_t>> &icc,
            const std::vector<jpeg_scan_info> &script, unsigned char **out, unsigned long *out_size,
            std::string &message)
{
    jpeg_compress_struct cinfo;
    error_trap trap;
    cinfo.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = trap_error_exit;
    trap.mgr.output_message = trap_output_message;
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&cinfo);
        message = trap.message;
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, out_size);
    cinfo.image_width = static_cast<JDIMENSION>(recipe.width);
    cinfo.image_height = static_cast<JDIMENSION>(recipe.height);
    cinfo.input_components = recipe.components;
    cinfo.in_color_space = recipe.components == 1   ? JCS_GRAYSCALE
                           : recipe.components == 3 ? JCS_RGB
                                                    : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, recipe.quality, TRUE);
    if (!script.empty()) {
        cinfo.scan_info = script.data();
        cinfo.num_scans = static_cast<int>(script.size());
    } else if (recipe.progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    if (!exif.empty())
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(),
                          static_cast<unsigned int>(exif.size()));
    for (const std::vector<uint8_t> &marker : icc)
        jpeg_write_marker(&cinfo, JPEG_APP0 + 2, marker.data(),
                          static_cast<unsigned int>(marker.size()));

    const size_t stride = static_cast<size_t>(recipe.width) * recipe.components;
    std::vector<JSAMPROW> rows(recipe.height);
    for (int y = 0; y < recipe.height; ++y)
        rows[y] = const_cast<JSAMPLE *>(pixels.data() + y * stride);
    while (cinfo.next_scanline < cinfo.image_height)
        jpeg_write_scanlines(&cinfo, rows.data() + cinfo.next_scanline,
                             cinfo.image_height - cinfo.next_scanline);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

bool decode(std::FILE *file, int scale_denom, decoded_jpeg &result, std::string &message)
{
    jpeg_decompress_struct cinfo;
    error_trap trap;
    cinfo.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = trap_error_exit;
    trap.mgr.output_message = trap_output_message;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        message = trap.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    JOCTET *profile = nullptr;
    unsigned int profile_size = 0;
    if (jpeg_read_icc_profile(&cinfo, &profile, &profile_size)) {
        result.icc_profile.assign(profile, profile + profile_size);
        std::free(profile);
    }
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned int>(scale_denom);
    jpeg_start_decompress(&cinfo);
    result.width = static_cast<int>(cinfo.output_width);
    result.height = static_cast<int>(cinfo.output_height);
    result.components = cinfo.output_components;
    const size_t stride = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
    result.pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = result.pixels.data() + cinfo.output_scanline * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    result.warnings = trap.mgr.num_warnings;
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> recipe_pixels(const jpeg_recipe &recipe)
{
    validate(recipe);
    const gradient_tables t = make_tables(recipe.width, recipe.height);
    const int n = recipe.components;
    std::vector<uint8_t> pixels(static_cast<size_t>(recipe.width) * recipe.height * n);

    // xorshift32: cheap enough for 4000 x 3000 pictures, and each 32-bit
    // draw gives four noise samples.
    uint32_t state = recipe.seed * 2654435761u ^ 0x9e3779b9u;
    if (state == 0) state = 1;
    uint32_t bits = 0;
    int left = 0;

    uint8_t *p = pixels.data();
    for (int y = 0; y < recipe.height; ++y) {
        for (int x = 0; x < recipe.width; ++x) {
            for (int c = 0; c < n; ++c) {
                if (left == 0) {
                    state ^= state << 13;
                    state ^= state >> 17;
                    state ^= state << 5;
                    bits = state;
                    left = 4;
                }
                const int noise = static_cast<int>(bits & 15) - 8;
                bits >>= 8;
                --left;
                // Grayscale mixes two components so it varies in both directions.
                const int value = n == 1 ? (t.across[0][x] + t.down[1][y]) / 2 + noise
                                         : t.across[c][x] + t.down[c][y] + noise;
                *p++ = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
            }
        }
    }
    return pixels;
}

std::vector<uint8_t> make_jpeg(const jpeg_recipe &recipe)
{
    if (!recipe.pixels.empty() && recipe.pixels.size() != static_cast<size_t>(recipe.width) *
                                                              recipe.height * recipe.components)
        throw std::invalid_argument("fixture: pixels do not match the size");
    const std::vector<uint8_t> pixels = recipe.pixels.empty() ? recipe_pixels(recipe)
                                                              : recipe.pixels;
    std::vector<uint8_t> exif;
    if (recipe.exif) {
        exif = exif_block(*recipe.exif);
        if (exif.size() > 65533) throw std::invalid_argument("fixture: EXIF block too large");
    }
    unsigned char *out = nullptr;
    unsigned long out_size = 0;
    std::string message;
    std::vector<std::vector<uint8_t>> icc;
    if (recipe.icc) icc = icc_markers(*recipe.icc);
    const std::vector<jpeg_scan_info> script = scan_script(recipe);
    const bool ok = encode(recipe, pixels, exif, icc, script, &out, &out_size, message);
    std::vector<uint8_t> bytes;
    if (ok) bytes.assign(out, out + out_size);
    std::free(out);
    if (!ok) throw std::runtime_error("fixture: libjpeg: " + message);
    return bytes;
}

void write_jpeg(const std::string &path, const jpeg_recipe &recipe)
{
    const std::vector<uint8_t> bytes = make_jpeg(recipe);
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("fixture: cannot create " + path);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written)
        throw std::runtime_error("fixture: cannot write " + path);
}

decoded_jpeg decode_jpeg(const std::string &path, int scale_denom)
{
    if (scale_denom != 1 && scale_denom != 2 && scale_denom != 4 && scale_denom != 8)
        throw std::invalid_argument("decode_jpeg: scale_denom must be 1, 2, 4 or 8");
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) throw std::runtime_error("decode_jpeg: cannot open " + path);
    decoded_jpeg result;
    std::string message;
    const bool ok = decode(file, scale_denom, result, message);
    std::fclose(file);
    if (!ok) throw std::runtime_error("decode_jpeg: " + path + ": " + message);
    return result;
}
