#include "image/codecs/jpeg_codec.h"

#include <jerror.h>
#include <jpegint.h>  // the marker reader's count of bytes skipped

#include <algorithm>
#include <cstring>

namespace {

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
    std::longjmp(errors.jump, 1);  // NOLINT(cert-err52-cpp): see guarded()
}

// libjpeg calls its progress monitor between rows, and while
// jpeg_start_decompress reads the scans of a file of several, as each is
// begun: a scan past the bound is refused there, before it is decoded.
void count_scans(j_common_ptr common)
{
    const auto *info = reinterpret_cast<j_decompress_ptr>(common);
    if (info->input_scan_number <= most_jpeg_scans) return;
    codec_errors &errors = errors_of(common);
    errors.refusal = message::too_many_scans;
    std::longjmp(errors.jump, 1);  // NOLINT(cert-err52-cpp): see guarded()
}

void setup_errors(codec_errors &errors, const std::string &path)
{
    jpeg_std_error(&errors.manager);
    errors.manager.output_message = report_warning;
    errors.manager.error_exit = jump_back;
    errors.path = &path;
    errors.text[0] = '\0';
}

// libjpeg's stdio source, byte for byte what it reads and what it shows of
// its warnings, but read by position from the file's bytes as they were
// when it was opened, with a bound on a search for a marker through bytes
// that are none, and with the bytes it skips left unread.
struct file_source {
    jpeg_source_mgr manager;
    byte_source *bytes;
    int64_t position;
    bool start_of_file;
    JOCTET buffer[4096];  // as much as libjpeg's own source reads at once
};

file_source &source_of(j_decompress_ptr info)
{
    return *reinterpret_cast<file_source *>(info->src);
}

void init_source(j_decompress_ptr info) { source_of(info).start_of_file = true; }

boolean fill_input_buffer(j_decompress_ptr info)
{
    file_source &source = source_of(info);
    size_t got = 0;
    if (info->marker->discarded_bytes <= largest_marker_hunt) {
        // A failed read ends the data as the end of the file does.
        const int64_t read = source.bytes->read_some(source.position, source.buffer);
        got = read > 0 ? static_cast<size_t>(read) : 0;
        source.position += static_cast<int64_t>(got);
    }
    if (got == 0) {
        if (source.start_of_file) ERREXIT(info, JERR_INPUT_EMPTY);
        WARNMS(info, JWRN_JPEG_EOF);
        // An end-of-image marker, as libjpeg's own source inserts.
        source.buffer[0] = 0xFF;
        source.buffer[1] = JPEG_EOI;
        got = 2;
    }
    source.manager.next_input_byte = source.buffer;
    source.manager.bytes_in_buffer = got;
    source.start_of_file = false;
    return TRUE;
}

// Skipping what is not buffered moves the position on without reading: a
// file of a gigabyte of markers nobody keeps costs a read after each, not a
// read through all of it. Past the end, the next read finds nothing and
// warns as reading through would have (libjpeg shows a first warning only).
void skip_input_data(j_decompress_ptr info, long count)
{
    file_source &source = source_of(info);
    jpeg_source_mgr &manager = source.manager;
    if (count <= 0) return;
    if (static_cast<unsigned long>(count) <= manager.bytes_in_buffer) {
        manager.next_input_byte += count;
        manager.bytes_in_buffer -= static_cast<size_t>(count);
        return;
    }
    source.position += count - static_cast<long>(manager.bytes_in_buffer);
    manager.next_input_byte += manager.bytes_in_buffer;
    manager.bytes_in_buffer = 0;
}

void term_source(j_decompress_ptr) {}

// The next byte of the file: the source never suspends.
JOCTET next_byte(j_decompress_ptr info)
{
    jpeg_source_mgr &source = *info->src;
    if (source.bytes_in_buffer == 0) (*source.fill_input_buffer)(info);
    --source.bytes_in_buffer;
    return *source.next_input_byte++;
}

constexpr long icc_header = 14;  // "ICC_PROFILE\0", the marker's number, their count

// jpeg_read_icc_profile's check of one marker, in file order: the first
// gives the count; each is numbered 1 to it, no number twice.
void check_icc_marker(icc_markers &icc, int number, int count, size_t profile_bytes)
{
    icc.profile_bytes += profile_bytes;
    if (icc.inconsistent) return;
    if (icc.count == 0)
        icc.count = count;
    else if (count != icc.count)
        icc.inconsistent = true;
    if (number == 0 || number > icc.count || icc.numbered[number]) icc.inconsistent = true;
    if (!icc.inconsistent) icc.numbered[number] = true;
}

// Kept as jpeg_save_markers keeps a marker: at the end of the list, its
// bytes after the structure, from the image's pool.
void keep_marker(j_decompress_ptr info, const JOCTET (&header)[icc_header], long length)
{
    auto *marker = static_cast<jpeg_saved_marker_ptr>(
        (*info->mem->alloc_large)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
                                  sizeof(jpeg_marker_struct) + static_cast<size_t>(length)));
    marker->next = nullptr;
    marker->marker = JPEG_APP0 + 2;
    marker->original_length = static_cast<unsigned int>(length);
    marker->data_length = static_cast<unsigned int>(length);
    marker->data = reinterpret_cast<JOCTET *>(marker + 1);
    std::memcpy(marker->data, header, icc_header);
    jpeg_source_mgr &source = *info->src;
    for (size_t at = icc_header; at < static_cast<size_t>(length);) {
        if (source.bytes_in_buffer == 0) (*source.fill_input_buffer)(info);
        const size_t part = std::min(source.bytes_in_buffer, static_cast<size_t>(length) - at);
        std::memcpy(marker->data + at, source.next_input_byte, part);
        source.next_input_byte += part;
        source.bytes_in_buffer -= part;
        at += part;
    }
    jpeg_saved_marker_ptr *end = &info->marker_list;
    while (*end) end = &(*end)->next;
    *end = marker;
}

// libjpeg's processor of APP2 markers: see icc_markers.
boolean read_app2(j_decompress_ptr info)
{
    icc_markers &icc = static_cast<decompressor *>(info->client_data)->icc;
    const long high = next_byte(info);
    const long length = (high << 8 | next_byte(info)) - 2;
    static constexpr JOCTET signature[12] = {'I', 'C', 'C', '_', 'P', 'R',
                                             'O', 'F', 'I', 'L', 'E', '\0'};
    JOCTET header[icc_header];
    long left = length;
    if (length >= icc_header) {
        for (JOCTET &byte : header) byte = next_byte(info);
        left -= icc_header;
        if (std::memcmp(header, signature, sizeof signature) == 0) {
            check_icc_marker(icc, header[12], header[13], static_cast<size_t>(left));
            if (!icc.inconsistent && icc.profile_bytes <= largest_icc_profile) {
                keep_marker(info, header, length);
                return TRUE;
            }
        }
    }
    (*info->src->skip_input_data)(info, left);
    return TRUE;
}

void attach_file(jpeg_decompress_struct &info, byte_source &bytes)
{
    auto *source = static_cast<file_source *>((*info.mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(&info), JPOOL_PERMANENT, sizeof(file_source)));
    source->manager.init_source = init_source;
    source->manager.fill_input_buffer = fill_input_buffer;
    source->manager.skip_input_data = skip_input_data;
    source->manager.resync_to_restart = jpeg_resync_to_restart;
    source->manager.term_source = term_source;
    source->manager.bytes_in_buffer = 0;
    source->manager.next_input_byte = nullptr;
    source->bytes = &bytes;
    source->position = 0;
    info.src = &source->manager;
}

}  // namespace

decompressor::decompressor(std::string source_path) : path(std::move(source_path))
{
    setup_errors(errors, path);
    info.err = &errors.manager;
}

// jpeg_destroy_decompress copes with an object whose creation failed part way.
decompressor::~decompressor()
{
    if (created) jpeg_destroy_decompress(&info);
}

outcome open_decompressor(decompressor &source, byte_source &bytes)
{
    jpeg_decompress_struct &info = source.info;
    // The guard is set before the object is made: creating it can fail too.
    return guarded(source.errors, [&] {
        source.created = true;
        jpeg_create_decompress(&info);
        attach_file(info, bytes);
        source.progress.progress_monitor = count_scans;
        info.progress = &source.progress;
        info.client_data = &source;
        jpeg_set_marker_processor(&info, JPEG_APP0 + 2, read_app2);
        jpeg_read_header(&info, TRUE);
    });
}

size_t read_icc_profile(decompressor &source, JOCTET **profile)
{
    *profile = nullptr;
    const icc_markers &icc = source.icc;
    // What jpeg_read_icc_profile says of markers that do not fit together,
    // whether or not they were all kept.
    bool whole = !icc.inconsistent;
    for (int number = 1; whole && number <= icc.count; ++number) whole = icc.numbered[number];
    if (!whole) {
        WARNMS(&source.info, JWRN_BOGUS_ICC);
        return 0;
    }
    if (icc.profile_bytes > largest_icc_profile) return icc.profile_bytes;
    unsigned int size = 0;
    if (!jpeg_read_icc_profile(&source.info, profile, &size)) return 0;
    return size;
}

compressor::compressor(const std::string &path)
{
    setup_errors(errors, path);
    info.err = &errors.manager;
}

compressor::~compressor()
{
    if (created) jpeg_destroy_compress(&info);
}

outcome create_compressor(compressor &out)
{
    return guarded(out.errors, [&] {
        out.created = true;
        jpeg_create_compress(&out.info);
    });
}

J_COLOR_SPACE jpeg_colour_space(colour_model colours)
{
    switch (colours) {
    case colour_model::grey: return JCS_GRAYSCALE;
    case colour_model::rgb: return JCS_RGB;
    case colour_model::ycbcr: return JCS_YCbCr;
    case colour_model::cmyk: return JCS_CMYK;
    case colour_model::ycck: return JCS_YCCK;
    case colour_model::unknown: break;
    }
    return JCS_UNKNOWN;
}

colour_model picture_colours(J_COLOR_SPACE space)
{
    switch (space) {
    case JCS_GRAYSCALE: return colour_model::grey;
    case JCS_RGB: return colour_model::rgb;
    case JCS_YCbCr: return colour_model::ycbcr;
    case JCS_CMYK: return colour_model::cmyk;
    case JCS_YCCK: return colour_model::ycck;
    default: return colour_model::unknown;
    }
}
