// HEIF and AVIF photographs through libheif, on files the tests make with
// libheif's own encoders: sizes and pixels after the container's turns and
// crops, 10-bit sources, the EXIF block as libexif reads it, colour
// profiles, and libheif's failures as values.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <libexif/exif-data.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/files.h"
#include "base/photo_names.h"
#include "image/codecs/exif.h"
#include "image/codecs/heif_codec.h"
#include "support/heif_fixture.h"
#include "support/icc_fixture.h"
#include "support/quadrants.h"
#include "support/temp_dir.h"

namespace {

using codec = heif_recipe::codec;

// A file opened the way the pipeline does: one descriptor, held open.
struct opened_heif {
    unique_fd fd;
    std::string path;
    result<heif_file> opening;
};

// What a failure says after the path that names the file, without its
// newline: libheif's or the system's own text. Empty for no failure.
template <class T>
std::string text_of(const result<T> &done, const std::string &path)
{
    if (done.ok()) return "";
    std::string text = done.error().text;
    if (text.starts_with(path + ": ")) text.erase(0, path.size() + 2);
    if (text.ends_with('\n')) text.pop_back();
    return text;
}

std::unique_ptr<opened_heif> open_path(const std::string &path)
{
    auto opened = std::make_unique<opened_heif>();
    opened->fd = unique_fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!opened->fd) throw std::runtime_error("cannot open " + path);
    opened->path = path;
    opened->opening = open_heif(opened->fd.fd, path);
    return opened;
}

// Opens and decodes bytes written to a file; fails the test on an error.
struct decoded_heif {
    int32_t width = 0, height = 0;  // as the header tells
    struct picture picture;
    std::vector<uint8_t> exif;
};

decoded_heif decode_file(const std::string &path, int threads = 1)
{
    const auto opened = open_path(path);
    decoded_heif result;
    EXPECT_EQ(text_of(opened->opening, path), "");
    if (!opened->opening.ok()) return result;
    const heif_file &file = *opened->opening;
    result.width = file.width;
    result.height = file.height;
    result.exif = heif_exif(file);
    auto decoding = decode_heif(file, threads, path);
    EXPECT_EQ(text_of(decoding, path), "");
    if (decoding.ok()) result.picture = std::move(*decoding);
    return result;
}

decoded_heif decode_spec(const heif_recipe &spec)
{
    temp_dir dir;
    write_heif(dir.file("f.heic"), spec);
    return decode_file(dir.file("f.heic"));
}

rgb pixel_at(const struct picture &picture, int x, int y)
{
    const uint8_t *p = picture.pixels.samples.get() + (size_t(y) * picture.width + size_t(x)) * 3;
    return {p[0], p[1], p[2]};
}

// The stored quadrants' colours in the middle of each quadrant of the
// upright picture, within what lossy coding leaves of flat colours.
void expect_upright_quadrants(const struct picture &picture, int orientation, int stored_width,
                              int stored_height)
{
    const std::vector<uint8_t> stored = quadrants(stored_width, stored_height);
    const int uw = static_cast<int>(picture.width), uh = static_cast<int>(picture.height);
    for (const auto [ux, uy] :
         {std::array{uw / 4, uh / 4}, std::array{3 * uw / 4, uh / 4},
          std::array{uw / 4, 3 * uh / 4}, std::array{3 * uw / 4, 3 * uh / 4}}) {
        const auto [sx, sy] = stored_position(orientation, ux, uy, stored_width, stored_height);
        const uint8_t *want = stored.data() + (size_t(sy) * size_t(stored_width) + size_t(sx)) * 3;
        const rgb got = pixel_at(picture, ux, uy);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(got[c], want[c], 10) << "at " << ux << "," << uy << " component " << c;
    }
}

TEST(heif, turned_and_cropped_pictures_decode_upright_at_the_header_size)
{
    // 96 x 48: x265 codes at least 64 rows, so the picture is cropped as well.
    constexpr int stored_width = 96, stored_height = 48;
    struct variant {
        const char *label;
        codec format;
        bool clean_aperture;
    };
    const variant variants[] = {
        {"HEIC cropped by a grid", codec::hevc, false},
        {"HEIC cropped by a clean aperture", codec::hevc, true},
        {"AVIF", codec::av1, false},
    };
    for (const variant &v : variants) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << v.label << ", orientation " << orientation);
            const decoded_heif d = decode_spec({.format = v.format,
                                                .width = stored_width,
                                                .height = stored_height,
                                                .pixels = quadrants(stored_width, stored_height),
                                                .orientation = orientation,
                                                .clean_aperture = v.clean_aperture});
            const bool sideways = orientation >= 5;
            EXPECT_EQ(d.width, sideways ? stored_height : stored_width);
            EXPECT_EQ(d.height, sideways ? stored_width : stored_height);
            ASSERT_EQ(d.picture.width, static_cast<uint32_t>(d.width));
            ASSERT_EQ(d.picture.height, static_cast<uint32_t>(d.height));
            EXPECT_EQ(d.picture.components, 3);
            EXPECT_EQ(d.picture.colours, colour_model::rgb);
            EXPECT_EQ(d.picture.pixels.size, size_t(d.width) * size_t(d.height) * 3);
            expect_upright_quadrants(d.picture, orientation, stored_width, stored_height);
        }
    }
}

// Odd sizes, and sizes that are no multiple of the coding blocks, come out
// exactly: the crop is the header's size to the pixel.
TEST(heif, odd_sizes_come_out_exactly)
{
    for (const codec format : {codec::hevc, codec::av1}) {
        for (const auto [width, height] :
             {std::array{1, 1}, std::array{63, 47}, std::array{65, 129}}) {
            SCOPED_TRACE(testing::Message()
                         << (format == codec::hevc ? "HEIC " : "AVIF ") << width << "x" << height);
            const decoded_heif d =
                decode_spec({.format = format, .width = width, .height = height, .seed = 5});
            EXPECT_EQ(d.width, width);
            EXPECT_EQ(d.height, height);
            EXPECT_EQ(d.picture.width, static_cast<uint32_t>(width));
            EXPECT_EQ(d.picture.height, static_cast<uint32_t>(height));
        }
    }
}

double mean_difference(const struct picture &picture, const std::vector<uint8_t> &expected)
{
    EXPECT_EQ(picture.pixels.size, expected.size());
    if (picture.pixels.size != expected.size() || expected.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        sum += std::abs(int(picture.pixels.samples[i]) - int(expected[i]));
    return sum / static_cast<double>(expected.size());
}

// 10 bits come out as 8, at the same levels: scaled, not cut to the low
// byte, and nothing tone mapped, PQ included.
TEST(heif, ten_bit_sources_give_8_bit_rgb_at_the_same_levels)
{
    struct depth_case {
        const char *label;
        heif_recipe spec;
    };
    const depth_case cases[] = {
        {"HEIC, 8 bits", {.format = codec::hevc, .width = 128, .height = 96, .bit_depth = 8}},
        {"HEIC, 10 bits", {.format = codec::hevc, .width = 128, .height = 96, .bit_depth = 10}},
        {"AVIF, 10 bits", {.format = codec::av1, .width = 128, .height = 96, .bit_depth = 10}},
        {"HEIC, 10 bits, BT.2020 PQ",
         {.format = codec::hevc,
          .width = 128,
          .height = 96,
          .bit_depth = 10,
          .nclx = nclx_recipe{.primaries = 9, .transfer = 16, .matrix = 9}}},
    };
    for (const depth_case &c : cases) {
        SCOPED_TRACE(c.label);
        temp_dir dir;
        write_heif(dir.file("f.heic"), c.spec);
        const auto opened = open_path(dir.file("f.heic"));
        ASSERT_TRUE(opened->opening.ok());
        EXPECT_EQ(heif_image_handle_get_luma_bits_per_pixel(opened->opening->primary.get()),
                  c.spec.bit_depth);
        const result<struct picture> decoding = decode_heif(*opened->opening, 1, opened->path);
        ASSERT_TRUE(decoding.ok());
        EXPECT_EQ(decoding->components, 3);
        EXPECT_LT(mean_difference(*decoding, heif_recipe_pixels(c.spec)), 3.0);
        EXPECT_TRUE(decoding->icc_profile.empty());
    }
}

struct exif_freer {
    void operator()(ExifData *data) const { exif_data_unref(data); }
};

// The Exif item, whichever offset its writer chose, as a block libexif
// reads; an item that points outside itself is no EXIF.
TEST(heif, exif_item_reads_with_libexif)
{
    const exif_recipe tags{.model = "Pocket Camera", .taken = "2024:05:06 07:08:09", .flash = 16};
    std::vector<uint8_t> no_offset = exif_block(tags);  // "Exif\0\0" counted in no offset
    no_offset.insert(no_offset.begin(), {0, 0, 0, 0});
    std::vector<uint8_t> past_other_bytes = exif_block(tags);
    past_other_bytes.erase(past_other_bytes.begin(), past_other_bytes.begin() + 6);
    past_other_bytes.insert(past_other_bytes.begin(), {0, 0, 0, 5, 'J', 'u', 'n', 'k', 0});
    struct exif_case {
        const char *label;
        heif_recipe spec;
        bool readable;
    };
    const exif_case cases[] = {
        {"offset 6, past \"Exif\\0\\0\"", {.exif = tags, .exif_header = true}, true},
        {"offset 0, the TIFF header at once", {.exif = tags, .exif_header = false}, true},
        {"offset 0, then \"Exif\\0\\0\"", {.exif_item = no_offset}, true},
        {"offset 5, past other bytes", {.exif_item = past_other_bytes}, true},
        {"AVIF", {.format = codec::av1, .exif = tags}, true},
        {"no Exif item", {}, false},
        {"offset beyond the item", {.exif_item = {0, 0, 1, 0, 'I', 'I', 42, 0, 8, 0, 0, 0}}, false},
        {"shorter than its offset", {.exif_item = {0, 0}}, false},
        {"nothing after the offset", {.exif_item = {0, 0, 0, 0}}, false},
    };
    for (const exif_case &c : cases) {
        SCOPED_TRACE(c.label);
        const decoded_heif d = decode_spec(c.spec);
        if (!c.readable) {
            EXPECT_TRUE(d.exif.empty());
            continue;
        }
        ASSERT_GT(d.exif.size(), 14u);
        EXPECT_EQ(std::string(d.exif.begin(), d.exif.begin() + 6), std::string("Exif\0\0", 6));
        const std::unique_ptr<ExifData, exif_freer> data(
            exif_data_new_from_data(d.exif.data(), static_cast<unsigned int>(d.exif.size())));
        ASSERT_TRUE(data);
        EXPECT_EQ(exif_string(data.get(), EXIF_TAG_MODEL), "Pocket Camera");
        EXPECT_EQ(exif_string(data.get(), EXIF_TAG_DATE_TIME_ORIGINAL), "2024:05:06 07:08:09");
        EXPECT_EQ(exif_string(data.get(), EXIF_TAG_FLASH),
                  "Flash did not fire, compulsory flash mode");
    }
}

// A phone's file: the container turns the stored picture a quarter, and
// its EXIF Orientation says the same. The decoded picture is upright, so
// the tag must not be applied again.
TEST(heif, an_exif_orientation_is_not_applied_twice)
{
    constexpr int stored_width = 96, stored_height = 64;
    const decoded_heif d = decode_spec({.width = stored_width,
                                        .height = stored_height,
                                        .pixels = quadrants(stored_width, stored_height),
                                        .orientation = 6,
                                        .exif = exif_recipe{.orientation = 6}});
    const std::unique_ptr<ExifData, exif_freer> data(
        exif_data_new_from_data(d.exif.data(), static_cast<unsigned int>(d.exif.size())));
    ASSERT_TRUE(data);
    EXPECT_EQ(exif_orientation(data.get()), 6);  // the tag is kept as the file has it
    EXPECT_EQ(heif_file::orientation, 1);        // and what is left to do is nothing
    EXPECT_EQ(d.width, stored_height);
    EXPECT_EQ(d.height, stored_width);
    expect_upright_quadrants(d.picture, 6, stored_width, stored_height);
}

// The profile a derived JPEG gets: an ICC profile as it is, an nclx
// description turned into the ICC profile of the same space when sRGB's
// primaries do not already say it and its curve can be said exactly.
TEST(heif, colour_profiles_come_as_icc_profiles)
{
    const std::vector<uint8_t> p3 = display_p3_profile();
    enum class expect { none, the_icc_profile, like_display_p3, like_bt2020, p3_with_bt709_curve };
    struct profile_case {
        const char *label;
        heif_recipe spec;
        expect result;
    };
    const auto nclx = [](uint16_t primaries, uint16_t transfer) {
        return nclx_recipe{.primaries = primaries, .transfer = transfer};
    };
    const profile_case cases[] = {
        {"HEIC without a colr box", {}, expect::none},
        {"AVIF with libheif's unspecified nclx", {.format = codec::av1}, expect::none},
        {"ICC profile", {.icc_profile = p3}, expect::the_icc_profile},
        {"ICC profile in an AVIF",
         {.format = codec::av1, .icc_profile = p3},
         expect::the_icc_profile},
        {"ICC profile and an nclx",
         {.icc_profile = p3, .nclx = nclx(9, 13)},
         expect::the_icc_profile},
        {"nclx sRGB", {.nclx = nclx(1, 13)}, expect::none},
        {"nclx BT.709", {.nclx = nclx(1, 1)}, expect::none},
        {"nclx Display P3", {.nclx = nclx(12, 13)}, expect::like_display_p3},
        {"nclx Display P3 in an AVIF",
         {.format = codec::av1, .nclx = nclx(12, 13)},
         expect::like_display_p3},
        {"nclx BT.2020 primaries, sRGB curve", {.nclx = nclx(9, 13)}, expect::like_bt2020},
        {"nclx P3 primaries, BT.709 curve", {.nclx = nclx(12, 1)}, expect::p3_with_bt709_curve},
        {"nclx P3 primaries, PQ", {.nclx = nclx(12, 16)}, expect::none},
        {"nclx P3 primaries, HLG", {.nclx = nclx(12, 18)}, expect::none},
        {"nclx P3 primaries, unspecified curve", {.nclx = nclx(12, 2)}, expect::none},
    };
    // Colours across the gamut, and greys.
    const std::array<uint8_t, 3> probes[] = {{255, 0, 0},     {0, 255, 0},   {0, 0, 255},
                                             {255, 255, 255}, {40, 200, 60}, {128, 128, 128},
                                             {10, 10, 10},    {230, 60, 40}};
    for (const profile_case &c : cases) {
        SCOPED_TRACE(c.label);
        const std::vector<uint8_t> &profile = decode_spec(c.spec).picture.icc_profile;
        switch (c.result) {
        case expect::none: EXPECT_TRUE(profile.empty()); break;
        case expect::the_icc_profile: EXPECT_EQ(profile, p3); break;
        case expect::like_display_p3:
        case expect::like_bt2020: {
            EXPECT_FALSE(profile.empty());
            if (profile.empty()) break;
            const std::vector<uint8_t> reference = srgb_curve_profile(
                c.result == expect::like_display_p3 ? display_p3_primaries : bt2020_primaries);
            for (const auto &probe : probes) {
                const std::array<double, 3> got = profile_xyz(profile, probe);
                const std::array<double, 3> want = profile_xyz(reference, probe);
                for (int i = 0; i < 3; ++i)
                    EXPECT_NEAR(got[i], want[i], 1e-3)
                        << int(probe[0]) << "," << int(probe[1]) << "," << int(probe[2]);
            }
            break;
        }
        case expect::p3_with_bt709_curve: {
            EXPECT_FALSE(profile.empty());
            if (profile.empty()) break;
            // BT.709's camera curve inverted: V = 128/255 is light
            // ((V + 0.099) / 1.099)^(1 / 0.45), and the primaries are P3's.
            EXPECT_NEAR(profile_xyz(profile, {128, 128, 128})[1], 0.2615, 0.002);
            EXPECT_NEAR(profile_xyz(profile, {255, 0, 0})[0], profile_xyz(p3, {255, 0, 0})[0],
                        1e-3);
            break;
        }
        }
    }
}

std::vector<uint8_t> file_bytes(const std::string &path)
{
    const std::string text = read_file(path);
    return {text.begin(), text.end()};
}

// The coded data of a file, its boxes left whole: what follows "mdat".
size_t coded_data(const std::vector<uint8_t> &bytes)
{
    static constexpr uint8_t mdat[4] = {'m', 'd', 'a', 't'};
    const auto at = std::search(bytes.begin(), bytes.end(), mdat, mdat + 4);
    if (at == bytes.end()) throw std::runtime_error("no mdat box");
    return static_cast<size_t>(at - bytes.begin()) + 4;
}

// The first length field of the coded data (HEVC's NAL unit size, AV1's
// OBU header and size) claiming far more than there is.
std::vector<uint8_t> with_bad_length(std::vector<uint8_t> bytes)
{
    const size_t data = coded_data(bytes);
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(data),
              bytes.begin() + static_cast<std::ptrdiff_t>(data) + 4, 0xFF);
    return bytes;
}

// Every failure is a value holding libheif's own text (without the newline
// some of its texts end in); nothing ends the process. The boxes are
// checked when the file is opened, the coded data when it is decoded (but
// the sizes it states, read on opening).
TEST(heif, failures_come_back_as_libheif_text)
{
    temp_dir dir;
    const std::vector<uint8_t> heic = make_heif({.width = 256, .height = 192, .seed = 3});
    const std::vector<uint8_t> avif =
        make_heif({.format = codec::av1, .width = 256, .height = 192, .seed = 3});
    struct failure_case {
        const char *label;
        std::vector<uint8_t> bytes;
        std::string open_error;    // empty: opens
        std::string decode_error;  // when it opens
    };
    const std::string text = "GIF89a, not a HEIF at all";
    const failure_case cases[] = {
        {"not a HEIF", {text.begin(), text.end()}, "Invalid input: No 'ftyp' box", ""},
        {"empty", {}, "Invalid input: No 'ftyp' box", ""},
        {"cut inside its boxes",
         {heic.begin(), heic.begin() + 200},
         "Invalid input: No 'meta' box",
         ""},
        {"cut inside the coded data",
         {heic.begin(), heic.end() - 100},
         "Invalid input: Unexpected end of file: Extent in iloc box references data outside of file bounds "
         "(points to file position " +
             std::to_string(coded_data(heic)) + ")",  // where the extent starts
         ""},
        {"HEIC with a bad NAL unit size", with_bad_length(heic), "",
         "Invalid input: Unspecified: NAL stream was rejected because a NAL unit size is invalid."},
        // The size an AV1 image decodes to is read from its sequence header
        // when the file is opened, before libheif sees the coded data.
        {"AVIF with a bad OBU size", with_bad_length(avif),
         "can't tell the size it decodes to: an AV1 image without a sequence header", ""},
    };
    for (const failure_case &c : cases) {
        SCOPED_TRACE(c.label);
        write_file(dir.file("f.heic"), std::string(c.bytes.begin(), c.bytes.end()));
        const auto opened = open_path(dir.file("f.heic"));
        EXPECT_EQ(text_of(opened->opening, opened->path), c.open_error);
        if (!opened->opening.ok()) continue;
        const result<struct picture> decoding = decode_heif(*opened->opening, 1, opened->path);
        EXPECT_EQ(text_of(decoding, opened->path), c.decode_error);
    }
    // The system's text when reading itself fails.
    const unique_fd directory(open(dir.path.c_str(), O_RDONLY | O_DIRECTORY));
    EXPECT_EQ(open_heif(directory.fd, "d").error().text, "d: Is a directory\n");
    EXPECT_EQ(open_heif(-1, "f").error().text, "f: Bad file descriptor\n");
}

// nclx code points libheif does not know (as libheif's encoder will not
// write them, patched into the box): libheif hands the description out
// along with an error, and the picture gets no profile. The sanitized build
// tells that the description is freed all the same.
TEST(heif, an_unknown_nclx_code_point_gives_no_profile)
{
    for (const int field : {0, 1}) {  // primaries, transfer
        SCOPED_TRACE(field == 0 ? "primaries" : "transfer");
        std::vector<uint8_t> bytes =
            make_heif({.nclx = nclx_recipe{.primaries = 12, .transfer = 13}});
        static constexpr uint8_t tag[4] = {'n', 'c', 'l', 'x'};
        const auto colr = std::search(bytes.begin(), bytes.end(), tag, tag + 4);
        ASSERT_LT(colr + 8, bytes.end());
        colr[4 + 2 * field] = 0;
        colr[5 + 2 * field] = 3;  // reserved
        temp_dir dir;
        write_file(dir.file("f.heic"), std::string(bytes.begin(), bytes.end()));
        const decoded_heif d = decode_file(dir.file("f.heic"));
        EXPECT_EQ(d.picture.width, 64u);
        EXPECT_TRUE(d.picture.icc_profile.empty());
    }
}

// A few hundred bytes whose grid claims 20000 x 20000 pixels: libheif would
// allocate it all (2.3 GB here) for one tile of 64 x 32. Its header is
// read, and its decode refused before anything is allocated.
TEST(heif, a_tiny_file_claiming_a_huge_grid_is_refused)
{
    // A flat picture, cropped from a grid of one 64 x 64 tile.
    std::vector<uint8_t> bytes =
        make_heif({.width = 64, .height = 32, .pixels = std::vector<uint8_t>(64 * 32 * 3, 128)});
    ASSERT_LT(bytes.size(), 1000u);
    constexpr int claimed = 20000;
    // The grid's description in the idat box: version, flags, rows - 1,
    // columns - 1, then width and height in 16 bits each.
    static constexpr uint8_t idat[4] = {'i', 'd', 'a', 't'};
    const auto grid = std::search(bytes.begin(), bytes.end(), idat, idat + 4) + 4;
    ASSERT_LT(grid + 8, bytes.end());
    for (const int at : {4, 6}) {
        grid[at] = claimed >> 8;
        grid[at + 1] = claimed & 0xFF;
    }
    // The grid item's own size: its ispe box, the second one.
    static constexpr uint8_t ispe[4] = {'i', 's', 'p', 'e'};
    const auto first = std::search(bytes.begin(), bytes.end(), ispe, ispe + 4);
    const auto second = std::search(first + 4, bytes.end(), ispe, ispe + 4);
    ASSERT_LT(second + 16, bytes.end());
    for (const int at : {8, 12}) {
        second[at] = second[at + 1] = 0;
        second[at + 2] = claimed >> 8;
        second[at + 3] = claimed & 0xFF;
    }
    const result<heif_file> opening = open_heif(std::span<const uint8_t>(bytes), "g.heic");
    ASSERT_TRUE(opening.ok());
    EXPECT_EQ(opening->width, claimed);
    EXPECT_EQ(opening->height, claimed);
    EXPECT_GT(heif_decode_memory(*opening), largest_heif_decode_memory);
    const result<struct picture> decoding = decode_heif(*opening, 1, "g.heic");
    ASSERT_FALSE(decoding.ok());
    EXPECT_EQ(decoding.error().text, "g.heic: too large to decode: 20000x20000 pixels\n");
}

// The size libheif will decode and the pixels it holds come from the grid
// header and the coded streams, not from what the ispe boxes state: a grid
// of one 64 x 64 tile claiming 16384 x 12288 is counted at that size, and a
// coded image at its own.
TEST(heif, decode_memory_counts_what_libheif_decodes)
{
    const auto patched = [](heif_recipe spec, int grid_width, int grid_height, int ispe,
                            uint32_t ispe_width, uint32_t ispe_height) {
        std::vector<uint8_t> bytes = make_heif(spec);
        if (grid_width > 0) set_grid_size(bytes, grid_width, grid_height);
        if (ispe >= 0) set_ispe(bytes, ispe, ispe_width, ispe_height);
        return bytes;
    };
    const struct {
        const char *label;
        std::vector<uint8_t> bytes;
        int32_t stated_width, stated_height;
        uint32_t decoded_width, decoded_height;
        uint64_t pixels;
        size_t bytes_per_sample = 1;
    } cases[] = {
        {"HEIC", make_heif({.width = 128, .height = 96}), 128, 96, 128, 96, 128 * 96},
        {"AVIF", make_heif({.format = codec::av1, .width = 80, .height = 60}), 80, 60, 80, 60,
         80 * 60},
        {"ten-bit AVIF",
         make_heif({.format = codec::av1, .width = 80, .height = 60, .bit_depth = 10}), 80, 60, 80,
         60, 80 * 60, 2},
        {"ten-bit HEIC", make_heif({.width = 128, .height = 96, .bit_depth = 10}), 128, 96, 128, 96,
         128 * 96, 2},
        {"grid", make_heif({.width = 48, .height = 48}), 48, 48, 48, 48, 48 * 48 + 64 * 64},
        {"grid claiming more", patched({.width = 48, .height = 48}, 16384, 12288, -1, 0, 0), 48, 48,
         16384, 12288, 16384 * 12288 + 64 * 64},
        {"grid claiming more, its ispe too",
         patched({.width = 48, .height = 48}, 32000, 24000, 1, 16, 16), 16, 16, 32000, 24000,
         uint64_t{32000} * 24000 + 64 * 64},
        {"AVIF grid", make_av1_grid(), 48, 48, 48, 48, 48 * 48 + 64 * 64},
        {"AVIF grid claiming more",
         [] {
             std::vector<uint8_t> bytes = make_av1_grid();
             set_grid_size(bytes, 32000, 24000);
             set_ispe(bytes, 1, 16, 16);
             return bytes;
         }(),
         16, 16, 32000, 24000, uint64_t{32000} * 24000 + 64 * 64},
        {"HEIC with a lying ispe", patched({.width = 128, .height = 96}, 0, 0, 0, 16, 16), 16, 16,
         128, 96, 128 * 96},
        {"AVIF with a lying ispe",
         patched({.format = codec::av1, .width = 80, .height = 60}, 0, 0, 0, 16, 16), 16, 16, 80,
         60, 80 * 60},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const result<heif_file> opening = open_heif(std::span<const uint8_t>(c.bytes), "f");
        ASSERT_TRUE(opening.ok()) << opening.error().text;
        EXPECT_EQ(opening->width, c.stated_width);
        EXPECT_EQ(opening->height, c.stated_height);
        EXPECT_EQ(opening->decoded_width, c.decoded_width);
        EXPECT_EQ(opening->decoded_height, c.decoded_height);
        EXPECT_EQ(opening->decoded_pixels, c.pixels);
        EXPECT_EQ(heif_decode_memory(*opening), c.pixels * 6 * c.bytes_per_sample);
    }
}

// The memory a decode holds grows with its pixels as the estimate says, 8
// bits or 10: no faster (the estimate bounds it), and not less than about
// half as fast. Measured in child processes as the growth of the resident
// set from just before the decode to its highest point (the kernel's
// high-water mark, reset first), the decoder's code and its own fixed
// structures warmed by a small decode before; compared between two sizes,
// so that what does not grow with the picture cancels out.
TEST(heif, decode_memory_follows_the_measured_peak)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator holds memory of its own";
#endif
    const auto resident_kb = [](const char *field) {
        const std::string status = read_file("/proc/self/status");
        const size_t at = status.find(field);
        return at == std::string::npos ? -1L : std::atol(status.c_str() + at + std::strlen(field));
    };
    // The peak growth of a decode of `file`, in bytes; -1 when it failed.
    const auto peak_of = [&](const heif_file &warm, const heif_file &file) {
        int pipe_fds[2];
        if (pipe(pipe_fds) != 0) return -1L;
        const pid_t child = fork();
        if (child == 0) {
            const bool warmed = decode_heif(warm, 0, "s").ok();
            write_file("/proc/self/clear_refs", "5");
            const long before = resident_kb("VmRSS:");
            const result<picture> decoded = decode_heif(file, 0, "m");
            long grown = (resident_kb("VmHWM:") - before) * 1024;
            if (before < 0 || !warmed || !decoded.ok()) grown = -1;
            (void)!write(pipe_fds[1], &grown, sizeof grown);
            _exit(0);
        }
        close(pipe_fds[1]);
        long peak = -1;
        if (child < 0 || read(pipe_fds[0], &peak, sizeof peak) != sizeof peak) peak = -1;
        close(pipe_fds[0]);
        if (child > 0) waitpid(child, nullptr, 0);
        return peak;
    };
    for (const int depth : {8, 10}) {
        SCOPED_TRACE(std::to_string(depth) + " bits");
        const std::vector<uint8_t> files[] = {
            make_heif({.width = 64, .height = 64, .bit_depth = depth}),
            make_heif({.width = 640, .height = 480, .bit_depth = depth}),
            make_heif({.width = 1280, .height = 960, .bit_depth = depth}),
        };
        std::vector<heif_file> opened;
        for (const std::vector<uint8_t> &bytes : files) {
            result<heif_file> opening = open_heif(std::span<const uint8_t>(bytes), "m");
            ASSERT_TRUE(opening.ok()) << opening.error().text;
            opened.push_back(std::move(*opening));
        }
        const long small = peak_of(opened[0], opened[1]), large = peak_of(opened[0], opened[2]);
        ASSERT_GT(small, 0);
        ASSERT_GT(large, small);
        const size_t grown = static_cast<size_t>(large - small);
        const size_t estimated = heif_decode_memory(opened[2]) - heif_decode_memory(opened[1]);
        EXPECT_LE(grown, estimated);
        EXPECT_GE(grown * 5 / 2, estimated);
    }
}

// The boxes are read by our own code too, from files anyone may write:
// every byte of a file's boxes damaged in turn never makes it read outside
// what it was given (the sanitized build tells), and what opens states a
// size that holds its own picture.
TEST(heif, damaged_boxes_are_read_safely)
{
    const std::vector<uint8_t> files[] = {
        make_heif({.width = 128, .height = 96, .exif = exif_recipe{.model = "M"}}),
        make_heif({.width = 48, .height = 48, .icc_profile = display_p3_profile()}),
        make_heif({.format = codec::av1, .width = 80, .height = 60, .bit_depth = 10}),
    };
    for (const std::vector<uint8_t> &file : files) {
        // The boxes come before the coded data, which libheif reads itself.
        const size_t boxes = std::min(coded_data(file), file.size());
        for (size_t at = 0; at < boxes; ++at) {
            for (const uint8_t value : {uint8_t{0}, uint8_t{0xFF}, uint8_t(file[at] + 1)}) {
                std::vector<uint8_t> bytes = file;
                bytes[at] = value;
                // From memory, and from a descriptor, where the colour boxes
                // are looked at before libheif reads anything.
                const unique_fd fd(memfd_create("damaged", MFD_CLOEXEC));
                ASSERT_EQ(write(fd.fd, bytes.data(), bytes.size()),
                          static_cast<ssize_t>(bytes.size()));
                for (const result<heif_file> &opening :
                     {open_heif(std::span<const uint8_t>(bytes), "m"), open_heif(fd.fd, "f")}) {
                    if (!opening.ok()) continue;
                    const heif_file &f = *opening;
                    EXPECT_GE(f.decoded_pixels, uint64_t{f.decoded_width} * f.decoded_height)
                        << "byte " << at << " set to " << int(value);
                }
            }
        }
    }
}

// The descriptor and the bytes in memory give the same, any number of
// decoding threads gives the same, and the descriptor's own offset stays
// where the caller left it.
TEST(heif, descriptor_memory_and_threads_give_the_same_picture)
{
    temp_dir dir;
    // Larger than libheif's boxes and the reader's read-ahead: the Exif item
    // lies far behind them.
    write_heif(dir.file("f.heic"), {.width = 800,
                                    .height = 600,
                                    .seed = 8,
                                    .orientation = 8,
                                    .exif = exif_recipe{.model = "M"},
                                    .icc_profile = display_p3_profile()});
    ASSERT_GT(read_file(dir.file("f.heic")).size(), 4 * 64 * 1024u);
    const decoded_heif reference = decode_file(dir.file("f.heic"), 0);
    ASSERT_TRUE(reference.picture.pixels.samples);
    EXPECT_FALSE(reference.exif.empty());
    const auto same = [&](const decoded_heif &d) {
        EXPECT_EQ(d.width, reference.width);
        EXPECT_EQ(d.height, reference.height);
        EXPECT_EQ(d.exif, reference.exif);
        EXPECT_EQ(d.picture.icc_profile, reference.picture.icc_profile);
        ASSERT_EQ(d.picture.pixels.size, reference.picture.pixels.size);
        EXPECT_EQ(0, std::memcmp(d.picture.pixels.samples.get(),
                                 reference.picture.pixels.samples.get(),
                                 reference.picture.pixels.size));
    };
    for (const int threads : {1, 4}) {
        SCOPED_TRACE(testing::Message() << threads << " decoding threads");
        same(decode_file(dir.file("f.heic"), threads));
    }
    {
        SCOPED_TRACE("from memory");
        const std::vector<uint8_t> bytes = file_bytes(dir.file("f.heic"));
        const result<heif_file> opening = open_heif(std::span<const uint8_t>(bytes), "m");
        ASSERT_TRUE(opening.ok());
        result<struct picture> decoded = decode_heif(*opening, 1, "m");
        ASSERT_TRUE(decoded.ok());
        decoded_heif d{opening->width, opening->height, std::move(*decoded), heif_exif(*opening)};
        same(d);
    }
    {
        SCOPED_TRACE("offset kept");
        const unique_fd fd(open(dir.file("f.heic").c_str(), O_RDONLY));
        ASSERT_EQ(lseek(fd.fd, 7, SEEK_SET), 7);
        const result<heif_file> opening = open_heif(fd.fd, "f");
        ASSERT_TRUE(opening.ok());
        EXPECT_FALSE(heif_exif(*opening).empty());
        EXPECT_TRUE(decode_heif(*opening, 1, "f").ok());
        EXPECT_EQ(lseek(fd.fd, 0, SEEK_CUR), 7);
    }
}

// Jobs decode on threads of their own, each its own file at once.
TEST(heif, files_decode_side_by_side_on_threads)
{
    temp_dir dir;
    constexpr int files = 4;
    std::vector<decoded_heif> alone;
    for (int i = 0; i < files; ++i) {
        const std::string path = dir.file(std::to_string(i) + ".heic");
        write_heif(path, {.format = i % 2 ? codec::av1 : codec::hevc,
                          .width = 300,
                          .height = 200,
                          .seed = uint32_t(20 + i)});
        alone.push_back(decode_file(path));
    }
    std::vector<decoded_heif> together(files);
    std::vector<std::thread> threads;
    for (int i = 0; i < files; ++i)
        threads.emplace_back(
            [&, i] { together[i] = decode_file(dir.file(std::to_string(i) + ".heic")); });
    for (std::thread &t : threads) t.join();
    for (int i = 0; i < files; ++i) {
        ASSERT_EQ(together[i].picture.pixels.size, alone[i].picture.pixels.size);
        EXPECT_EQ(0,
                  std::memcmp(together[i].picture.pixels.samples.get(),
                              alone[i].picture.pixels.samples.get(), alone[i].picture.pixels.size));
    }
}

TEST(heif, names_of_heif_and_avif_files)
{
    for (const char *name :
         {"a.heic", "IMG_0001.HEIC", "b.HeIf", "c.avif", "d.AVIF", "x.jpg.heic", ".heic"})
        EXPECT_TRUE(is_heif_name(name)) << name;
    for (const char *name : {"heic", "aheic", "a.heics", "a.hei", "a.heic.jpg", "a.jpg", "a.jpeg",
                             "a.png", "", "a.avi", "a.heic ", "a_heic"})
        EXPECT_FALSE(is_heif_name(name)) << name;
}

}  // namespace
