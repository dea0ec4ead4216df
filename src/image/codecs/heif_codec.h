// HEIF and AVIF photographs through libheif: the primary image, decoded
// upright to 8-bit RGB for the JPEG encoder, its EXIF block and its colour
// profile. libheif reads from a descriptor the caller holds open (or from
// bytes in memory), and a failure comes back as a value naming the file
// with libheif's own text: "<path>: <text>".
#pragma once

#include <libheif/heif.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_source.h"
#include "base/failure.h"
#include "base/limits.h"
#include "image/picture.h"

struct heif_context_freer {
    void operator()(heif_context *context) const { heif_context_free(context); }
};
using unique_heif_context = std::unique_ptr<heif_context, heif_context_freer>;

struct heif_handle_releaser {
    void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
};
using unique_heif_handle = std::unique_ptr<heif_image_handle, heif_handle_releaser>;

struct heif_image_releaser {
    void operator()(heif_image *image) const { heif_image_release(image); }
};
using unique_heif_image = std::unique_ptr<heif_image, heif_image_releaser>;

// Where libheif's reader reads: the caller's file by position, never past
// the size it had when it was opened. libheif reads box by box, many small
// reads: those come from a chunk read ahead, large ones straight from the
// file.
struct heif_descriptor_reader {
    byte_source bytes;
    int64_t position = 0;        // libheif's reading position
    std::vector<uint8_t> chunk;  // the bytes from chunk_start on
    int64_t chunk_start = 0;
    // Where libheif reads "skip" instead of "colr": the types of colour
    // boxes too long to carry (long_colour_boxes), which it then passes
    // over instead of reading their profile byte by byte.
    std::vector<int64_t> hidden_types;
};

// An open HEIF or AVIF file: its boxes read and its primary image found,
// no pixel decoded yet. A descriptor given to open_heif must stay open as
// long as this lives; bytes given to it must stay where they are.
struct heif_file {
    std::unique_ptr<heif_descriptor_reader> reader;  // none when read from memory
    unique_heif_context context;
    unique_heif_handle primary;
    int64_t size = 0;  // of the file, in bytes
    // The primary image's size as shown: after its clean aperture,
    // rotation and mirror. The decoded picture has this size.
    int32_t width = 0;
    int32_t height = 0;
    // What libheif will really decode, from the file's own boxes
    // (read_heif_layout): the picture before its crop and turn, which may
    // be anything when the file lies, and the most pixels held at once.
    uint32_t decoded_width = 0;
    uint32_t decoded_height = 0;
    uint64_t decoded_pixels = 0;
    uint64_t longest_side = 0;      // of any image decoded on the way
    unsigned bytes_per_sample = 1;  // 2 when decoded through 16-bit planes
    // A grid's or overlay's canvas is decoded at the size its header
    // declares, a coded image at the size its stream gives; the ispe box
    // must state that size: when the two differ, the picture will not have
    // the stated size, known before decoding it.
    bool size_differs = false;
    uint32_t stated_width = 0;  // what the ispe box states, 0 x 0 without one
    uint32_t stated_height = 0;
    // A colour profile too long to carry was kept from libheif.
    bool long_profile = false;
    // What the EXIF Orientation would still ask of turn_upright: nothing.
    // libheif applies the container's rotation and mirror (irot, imir) while
    // decoding, and a HEIF's EXIF Orientation tag, when there is one,
    // describes that same turn: applying it again would turn the picture
    // twice. Use this instead of exif_orientation.
    static constexpr int orientation = 1;
};

// Reads the boxes of the file open on fd (from offset 0, whatever the
// descriptor's own offset) and finds its primary image: the header's work,
// without the coded pixels. Failures name the file by path: libheif's text,
// or the system's for a read error, as "<path>: <text>". A file whose boxes
// beside the coded data pass largest_heif_boxes is refused before libheif
// reads any.
result<heif_file> open_heif(int fd, const std::string &path);

// The same from a whole file in memory; the bytes are not copied.
result<heif_file> open_heif(std::span<const uint8_t> bytes, const std::string &path);

// The file's EXIF block as libexif's exif_data_new_from_data takes it:
// "Exif\0\0", then the TIFF header and what follows it. Empty when the
// primary image has no Exif item, one larger than largest_heif_exif, or one
// that cannot be read or whose offset to the TIFF header points outside it.
// Its Orientation tag is not to be applied (see heif_file::orientation).
std::vector<uint8_t> heif_exif(const heif_file &file);

// The memory a decode of the file holds at its peak: for every pixel
// libheif holds (decoded_pixels, whatever the ispe box says), two pictures
// of 3 samples: the coded planes and libheif's RGB picture, or libheif's
// RGB picture and its copy for the pipeline; samples of 2 bytes when the
// coded depth is above 8 bits, where the planes and libheif's conversion
// between them are 16-bit.
size_t heif_decode_memory(const heif_file &file);

// Decodes the primary image with libheif's defaults: the clean aperture,
// rotation and mirror applied, so the picture is upright, width x height of
// the file; 8-bit RGB whatever the coded depth (10 and 12 bits are scaled
// down, nothing is tone mapped), alpha dropped. icc_profile is the file's
// ICC profile ('prof' or 'rICC') as it is, when icc_profile_fault finds it
// fit (one too large is not even read); else, for an nclx description, the
// equivalent ICC profile (nclx_profile), none for sRGB's primaries.
// decoding_threads is libheif's limit on threads decoding the tiles of a
// grid image at once (0: all on the calling thread); the codecs themselves
// may start threads of their own. A file whose decode would hold more than
// largest_heif_decode_memory is refused before anything is allocated, with
// a text of our own: "<path>: too large to decode: <width>x<height> pixels",
// the size libheif would decode. An ICC profile unfit to carry is left out
// with a warning naming path.
result<picture> decode_heif(const heif_file &file, int decoding_threads, const std::string &path);
