#include "image/codecs/heif_codec.h"
#include "base/big_endian.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "image/codecs/heif_layout.h"
#include "image/codecs/icc_profile.h"
#include "image/codecs/nclx_profile.h"
#include "image/messages.h"

namespace {

// libheif registers its codecs once per process; heif_init is reference
// counted and never undone here, since job threads may still be decoding
// while the process exits.
const heif_error &library_ready()
{
    static const heif_error ready = heif_init(nullptr);
    return ready;
}

heif_descriptor_reader &reader_of(void *userdata)
{
    return *static_cast<heif_descriptor_reader *>(userdata);
}

int64_t reader_position(void *userdata) { return reader_of(userdata).position; }

// Reads size bytes at offset into to; false on an error (errno kept) or
// when the file shrank under us.
bool read_fully(heif_descriptor_reader &reader, uint8_t *to, size_t size, int64_t offset)
{
    return reader.bytes.read_exactly(offset, {to, size});
}

constexpr size_t read_ahead = 64 * 1024;

// The bytes from start on as libheif is to see them: a hidden box's type
// reads as "skip", a box libheif does not know and passes over.
void hide_types(const heif_descriptor_reader &reader, uint8_t *bytes, size_t size, int64_t start)
{
    static constexpr uint8_t skip[4] = {'s', 'k', 'i', 'p'};
    for (const int64_t type : reader.hidden_types)
        for (int64_t k = 0; k < 4; ++k)
            if (type + k >= start && type + k < start + static_cast<int64_t>(size))
                bytes[type + k - start] = skip[k];
}

int reader_read_unhidden(void *data, size_t size, void *userdata);

int reader_read(void *data, size_t size, void *userdata)
{
    const heif_descriptor_reader &reader = reader_of(userdata);
    const int64_t start = reader.position;
    const int failed = reader_read_unhidden(data, size, userdata);
    if (failed == 0) hide_types(reader, static_cast<uint8_t *>(data), size, start);
    return failed;
}

int reader_read_unhidden(void *data, size_t size, void *userdata)
{
    heif_descriptor_reader &reader = reader_of(userdata);
    if (size == 0) return 0;
    auto *to = static_cast<uint8_t *>(data);
    const int64_t end = reader.position + static_cast<int64_t>(size);
    const bool in_chunk = reader.position >= reader.chunk_start &&
                          end <= reader.chunk_start + static_cast<int64_t>(reader.chunk.size());
    if (!in_chunk && size < read_ahead) {
        const int64_t left = reader.bytes.size - reader.position;
        if (left < static_cast<int64_t>(size)) return 1;
        reader.chunk.resize(static_cast<size_t>(std::min<int64_t>(left, read_ahead)));
        reader.chunk_start = reader.position;
        if (!read_fully(reader, reader.chunk.data(), reader.chunk.size(), reader.chunk_start)) {
            reader.chunk.clear();
            return 1;
        }
    } else if (!in_chunk) {
        if (!read_fully(reader, to, size, reader.position)) return 1;
        reader.position = end;
        return 0;
    }
    std::memcpy(to, reader.chunk.data() + (reader.position - reader.chunk_start), size);
    reader.position = end;
    return 0;
}

int reader_seek(int64_t position, void *userdata)
{
    heif_descriptor_reader &reader = reader_of(userdata);
    if (position < 0 || position > reader.bytes.size) return 1;
    reader.position = position;
    return 0;
}

// The file does not grow: whatever lies past its end never comes.
heif_reader_grow_status reader_wait(int64_t target_size, void *userdata)
{
    return target_size > reader_of(userdata).bytes.size ? heif_reader_grow_status_size_beyond_eof
                                                        : heif_reader_grow_status_size_reached;
}

constexpr heif_reader descriptor_reader_functions{1, reader_position, reader_read, reader_seek,
                                                  reader_wait};

// libheif's text, unless a read failed underneath it: then the system's.
// Some of libheif's texts end in a newline, which the caller's line adds.
std::string error_text(const heif_error &error, const heif_descriptor_reader *reader)
{
    if (reader && reader->bytes.error != 0) return std::strerror(reader->bytes.error);
    std::string text = error.message ? error.message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "unknown libheif error" : text;
}

// The steps after the boxes are read: the primary image and its size.
result<heif_file> find_primary(heif_file file, const heif_error &read, const std::string &path)
{
    if (read.code != heif_error_Ok)
        return message::codec_error(path, error_text(read, file.reader.get()).c_str());
    heif_image_handle *handle = nullptr;
    const heif_error found = heif_context_get_primary_image_handle(file.context.get(), &handle);
    if (found.code != heif_error_Ok)
        return message::codec_error(path, error_text(found, file.reader.get()).c_str());
    file.primary.reset(handle);
    file.width = heif_image_handle_get_width(handle);
    file.height = heif_image_handle_get_height(handle);
    return file;
}

// The size libheif will really decode, read from the boxes ourselves.
result<heif_file> with_layout(result<heif_file> opened, const heif_read_at &read,
                              const std::string &path)
{
    if (!opened.ok()) return opened;
    heif_file &file = *opened;
    const result<heif_layout> measured =
        read_heif_layout(static_cast<uint64_t>(file.size), read, path);
    if (!measured.ok()) return measured.error();
    const heif_layout &layout = *measured;
    file.decoded_width = layout.width;
    file.decoded_height = layout.height;
    file.decoded_pixels = layout.pixels;
    file.longest_side = layout.longest_side;
    file.bytes_per_sample = layout.bytes_per_sample;
    // The box itself: libheif's own answer for it comes turned. Writers
    // differ on whether a turned picture's ispe states it before or after
    // its turn (libheif 1.15 states it after): either way round is taken,
    // the decoded picture being checked against the shown size again.
    file.stated_width = layout.stated_width;
    file.stated_height = layout.stated_height;
    file.size_differs =
        layout.stated_width != 0 &&
        !(layout.width == layout.stated_width && layout.height == layout.stated_height) &&
        !(layout.width == layout.stated_height && layout.height == layout.stated_width);
    return opened;
}

// libheif reads every box but the coded data into memory as it opens a
// file, as large as the box claims: a few bytes of a sparse file may claim
// gigabytes. Nothing when the boxes are within bounds, or cannot be listed
// (libheif then says why).
outcome bounded_boxes(uint64_t file_size, const heif_read_at &read, const std::string &path)
{
    const std::optional<uint64_t> bytes = heif_box_bytes(file_size, read, largest_icc_profile + 4);
    if (bytes && *bytes > largest_heif_boxes)
        return message::heif_boxes_too_large(path, *bytes, largest_heif_boxes);
    return {};
}

// A fresh context, or the reason there is none.
result<heif_file> new_context(const std::string &path)
{
    if (library_ready().code != heif_error_Ok)
        return message::codec_error(path, error_text(library_ready(), nullptr).c_str());
    heif_file file;
    file.context.reset(heif_context_alloc());
    if (!file.context) return message::codec_error(path, std::strerror(ENOMEM));
    return file;
}

struct options_freer {
    void operator()(heif_decoding_options *options) const { heif_decoding_options_free(options); }
};

struct nclx_freer {
    void operator()(heif_color_profile_nclx *nclx) const { heif_nclx_color_profile_free(nclx); }
};

// The file's ICC profile when it is fit to carry (its size asked before a
// byte of it is read), else the equivalent of its nclx description, both
// from the container's colr boxes; fault says why an ICC profile was left
// out. (libheif 1.15 hands on no description from the coded stream itself.)
std::vector<uint8_t> colour_profile(const heif_image_handle *handle, std::string &fault)
{
    if (const size_t size = heif_image_handle_get_raw_color_profile_size(handle); size > 0) {
        fault = icc_size_fault(size);
        std::vector<uint8_t> profile;
        if (fault.empty()) profile.resize(size);
        if (fault.empty() &&
            heif_image_handle_get_raw_color_profile(handle, profile.data()).code == heif_error_Ok) {
            fault = icc_profile_fault(profile, 3);
            if (fault.empty()) return profile;
        }
    }
    heif_color_profile_nclx *nclx = nullptr;
    const heif_error got = heif_image_handle_get_nclx_color_profile(handle, &nclx);
    // libheif may hand the description out along with an error (code
    // points it does not know): it is freed either way.
    const std::unique_ptr<heif_color_profile_nclx, nclx_freer> owner(nclx);
    if (got.code != heif_error_Ok || !nclx) return {};
    return nclx_profile(nclx->color_primaries, nclx->transfer_characteristics);
}

}  // namespace

result<heif_file> open_heif(int fd, const std::string &path)
{
    struct stat status;
    if (fstat(fd, &status) != 0) return message::codec_error(path, std::strerror(errno));
    result<heif_file> opened = new_context(path);
    if (!opened.ok()) return opened;
    heif_file &file = *opened;
    file.size = status.st_size;
    file.reader = std::make_unique<heif_descriptor_reader>();
    file.reader->bytes = byte_source{fd, status.st_size, 0};
    heif_descriptor_reader &reader = *file.reader;
    const heif_read_at read_at = [&reader](uint64_t offset, std::span<uint8_t> to) {
        return read_fully(reader, to.data(), to.size(), static_cast<int64_t>(offset));
    };
    // Past the size bound, a profile is kept from libheif's reading at all.
    for (const uint64_t type :
         long_colour_boxes(static_cast<uint64_t>(status.st_size), read_at, largest_icc_profile + 4))
        reader.hidden_types.push_back(static_cast<int64_t>(type));
    if (outcome bounded = bounded_boxes(static_cast<uint64_t>(status.st_size), read_at, path);
        !bounded.ok())
        return bounded.error();
    reader.bytes.error = 0;
    file.long_profile = !reader.hidden_types.empty();
    const heif_error read = heif_context_read_from_reader(
        file.context.get(), &descriptor_reader_functions, file.reader.get(), nullptr);
    return with_layout(find_primary(std::move(file), read, path), read_at, path);
}

result<heif_file> open_heif(std::span<const uint8_t> bytes, const std::string &path)
{
    result<heif_file> opened = new_context(path);
    if (!opened.ok()) return opened;
    heif_file &file = *opened;
    file.size = static_cast<int64_t>(bytes.size());
    const heif_read_at read_at = [bytes](uint64_t offset, std::span<uint8_t> to) {
        if (offset > bytes.size() || to.size() > bytes.size() - offset) return false;
        std::memcpy(to.data(), bytes.data() + offset, to.size());
        return true;
    };
    if (outcome bounded = bounded_boxes(bytes.size(), read_at, path); !bounded.ok())
        return bounded.error();
    const heif_error read = heif_context_read_from_memory_without_copy(
        file.context.get(), bytes.data(), bytes.size(), nullptr);
    return with_layout(find_primary(std::move(file), read, path), read_at, path);
}

std::vector<uint8_t> heif_exif(const heif_file &file)
{
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(file.primary.get(), "Exif", &id, 1) != 1)
        return {};
    const size_t size = heif_image_handle_get_metadata_size(file.primary.get(), id);
    // The size comes from the file: no allocation beyond what it holds.
    if (size < 4 || size > static_cast<uint64_t>(file.size) || size > largest_heif_exif) return {};
    std::vector<uint8_t> item(size);
    if (heif_image_handle_get_metadata(file.primary.get(), id, item.data()).code != heif_error_Ok)
        return {};
    // A big-endian offset from the end of its own 4 bytes to the TIFF header.
    const uint32_t offset = big_endian_32(item.data());
    if (offset > size - 4) return {};
    auto tiff = item.begin() + 4 + static_cast<std::ptrdiff_t>(offset);
    static constexpr uint8_t exif_header[6] = {'E', 'x', 'i', 'f', 0, 0};
    // Some writers count the offset to an "Exif\0\0" of their own.
    if (item.end() - tiff >= 6 && std::equal(exif_header, exif_header + 6, tiff)) tiff += 6;
    if (tiff == item.end()) return {};
    std::vector<uint8_t> block(exif_header, exif_header + 6);
    block.insert(block.end(), tiff, item.end());
    return block;
}

size_t heif_decode_memory(const heif_file &file)
{
    // A count of pixels no file can have stays beyond the bound.
    return static_cast<size_t>(std::min<uint64_t>(file.decoded_pixels, uint64_t{1} << 48)) * 3 * 2 *
           file.bytes_per_sample;
}

result<picture> decode_heif(const heif_file &file, int decoding_threads, const std::string &path)
{
    if (heif_decode_memory(file) > largest_heif_decode_memory)
        return message::too_large_to_decode(path, static_cast<int32_t>(file.decoded_width),
                                            static_cast<int32_t>(file.decoded_height));
    const std::unique_ptr<heif_decoding_options, options_freer> options(
        heif_decoding_options_alloc());
    if (!options) return message::codec_error(path, std::strerror(ENOMEM));
    // 10 and 12 bits scaled to 8; libheif's default for the rest: the
    // container's transformations applied.
    options->convert_hdr_to_8bit = 1;
    heif_context_set_max_decoding_threads(file.context.get(), decoding_threads);
    // libheif's own bound on a canvas, to what was measured: should it read
    // the file otherwise, it allocates no larger side than was paid for.
    heif_context_set_maximum_image_size_limit(
        file.context.get(), static_cast<int>(std::min<uint64_t>(file.longest_side + 1, INT32_MAX)));
    if (file.reader) file.reader->bytes.error = 0;
    heif_image *decoded = nullptr;
    const heif_error error = heif_decode_image(file.primary.get(), &decoded, heif_colorspace_RGB,
                                               heif_chroma_interleaved_RGB, options.get());
    const unique_heif_image image(decoded);
    if (error.code != heif_error_Ok || !image)
        return message::codec_error(path, error_text(error, file.reader.get()).c_str());
    int stride = 0;
    const uint8_t *plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_primary_width(image.get());
    const int height = heif_image_get_primary_height(image.get());
    if (!plane || width <= 0 || height <= 0 || stride < width * 3)
        return message::codec_error(path, "libheif gave no interleaved RGB plane");

    picture made;
    const size_t row_size = size_t(width) * 3;
    made.pixels.size = row_size * size_t(height);
    made.pixels.samples.reset(new (std::nothrow) uint8_t[made.pixels.size]);
    if (!made.pixels.samples) return message::codec_error(path, std::strerror(ENOMEM));
    for (size_t y = 0; y < size_t(height); ++y)
        std::memcpy(made.pixels.samples.get() + y * row_size, plane + y * size_t(stride), row_size);
    made.width = static_cast<uint32_t>(width);
    made.height = static_cast<uint32_t>(height);
    made.components = 3;
    made.colours = colour_model::rgb;
    std::string profile_fault;
    made.icc_profile = colour_profile(file.primary.get(), profile_fault);
    if (file.long_profile && profile_fault.empty())
        profile_fault = icc_size_fault(largest_icc_profile + 1);
    if (!profile_fault.empty()) note::profile_left_out(path, profile_fault);
    return made;
}
