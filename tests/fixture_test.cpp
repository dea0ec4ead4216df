// The fixture makers: other tests trust that their files are what their
// recipes ask for, so check that through libjpeg, libexif and lcms2
// themselves, and in the bytes of the HEIF files.
#include <gtest/gtest.h>

#include <lcms2.h>
#include <libexif/exif-data.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/heif_fixture.h"
#include "support/icc_fixture.h"
#include "support/jpeg_fixture.h"
#include "support/temp_dir.h"

namespace {

struct exif_data_unref_deleter {
    void operator()(ExifData *d) const { exif_data_unref(d); }
};
using unique_exif = std::unique_ptr<ExifData, exif_data_unref_deleter>;

// Mean absolute difference per sample.
double mean_error(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    EXPECT_EQ(a.size(), b.size());
    double sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) sum += std::abs(a[i] - b[i]);
    return a.empty() ? 0 : sum / static_cast<double>(a.size());
}

std::string entry_text(ExifData *data, ExifIfd ifd, ExifTag tag)
{
    ExifEntry *e = exif_content_get_entry(data->ifd[ifd], tag);
    if (!e) return "<absent>";
    char buffer[1024] = {};
    exif_entry_get_value(e, buffer, sizeof buffer);
    return buffer;
}

}  // namespace

TEST(fixture, decodes_to_its_own_pixels_in_every_layout)
{
    struct layout {
        int components;
        bool progressive;
    };
    for (const layout l :
         {layout{1, false}, layout{3, false}, layout{3, true}, layout{4, false}, layout{4, true}}) {
        SCOPED_TRACE(testing::Message()
                     << l.components << " components, progressive " << l.progressive);
        temp_dir dir;
        jpeg_recipe recipe;
        recipe.width = 123;
        recipe.height = 77;
        recipe.components = l.components;
        recipe.progressive = l.progressive;
        recipe.quality = 95;
        write_jpeg(dir.file("f.jpg"), recipe);

        const decoded_jpeg d = decode_jpeg(dir.file("f.jpg"));
        EXPECT_EQ(d.width, 123);
        EXPECT_EQ(d.height, 77);
        EXPECT_EQ(d.components, l.components);
        // Lossy, but the samples must be where recipe_pixels put them.
        EXPECT_LT(mean_error(d.pixels, recipe_pixels(recipe)), 4.0);
    }
}

// A scripted progression has exactly the scans asked for, and decodes to
// the very pixels of the same picture coded in one scan: every bit of every
// coefficient is sent.
TEST(fixture, scripted_progression_has_the_scans_asked_for)
{
    const struct {
        int components;
        int scans;
    } cases[] = {{1, 64}, {1, 100}, {1, 101}, {1, 694}, {3, 190}, {3, 300}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.components << " components, " << c.scans << " scans");
        const jpeg_recipe recipe{.width = 40, .height = 30, .components = c.components};
        jpeg_recipe scripted = recipe;
        scripted.scans = c.scans;
        const std::vector<uint8_t> bytes = make_jpeg(scripted);
        // Outside markers a 0xFF byte is followed by 0: every FF DA starts a scan.
        int found = 0;
        for (size_t i = 0; i + 1 < bytes.size(); ++i)
            if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) ++found;
        EXPECT_EQ(found, c.scans);
        temp_dir dir;
        write_jpeg(dir.file("scripted.jpg"), scripted);
        write_jpeg(dir.file("one scan.jpg"), recipe);
        EXPECT_EQ(decode_jpeg(dir.file("scripted.jpg")).pixels,
                  decode_jpeg(dir.file("one scan.jpg")).pixels);
    }
    for (const int scans : {63, 695})
        EXPECT_THROW(make_jpeg({.components = 1, .scans = scans}), std::invalid_argument) << scans;
}

TEST(fixture, decode_reduces_in_the_dct_domain)
{
    temp_dir dir;
    jpeg_recipe recipe;
    recipe.width = 4000;
    recipe.height = 3000;
    write_jpeg(dir.file("big.jpg"), recipe);
    for (const int denom : {1, 2, 4, 8}) {
        const decoded_jpeg d = decode_jpeg(dir.file("big.jpg"), denom);
        EXPECT_EQ(d.width, 4000 / denom);
        EXPECT_EQ(d.height, 3000 / denom);
        EXPECT_EQ(d.pixels.size(), static_cast<size_t>(d.width) * d.height * 3);
    }
    // Sizes that do not divide round up, as libjpeg's jdiv_round_up does.
    recipe.width = 101;
    recipe.height = 13;
    write_jpeg(dir.file("odd.jpg"), recipe);
    const decoded_jpeg d = decode_jpeg(dir.file("odd.jpg"), 8);
    EXPECT_EQ(d.width, 13);
    EXPECT_EQ(d.height, 2);
}

TEST(fixture, picture_is_deterministic_and_seeded)
{
    jpeg_recipe a;
    a.width = 40;
    a.height = 30;
    jpeg_recipe b = a;
    b.seed = 2;
    EXPECT_EQ(recipe_pixels(a), recipe_pixels(a));
    EXPECT_EQ(make_jpeg(a), make_jpeg(a));
    EXPECT_NE(recipe_pixels(a), recipe_pixels(b));
    // Not flat: neighbouring samples differ, and the picture spans a range.
    const std::vector<uint8_t> p = recipe_pixels(a);
    int low = 255, high = 0;
    for (uint8_t v : p) {
        low = std::min<int>(low, v);
        high = std::max<int>(high, v);
    }
    EXPECT_GT(high - low, 100);
}

TEST(fixture, refuses_what_it_cannot_make_or_decode)
{
    jpeg_recipe recipe;
    recipe.components = 2;
    EXPECT_THROW(make_jpeg(recipe), std::invalid_argument);
    recipe.components = 3;
    recipe.width = 0;
    EXPECT_THROW(make_jpeg(recipe), std::invalid_argument);
    temp_dir dir;
    write_file(dir.file("junk.jpg"), "not a jpeg");
    EXPECT_THROW(decode_jpeg(dir.file("junk.jpg")), std::runtime_error);
}

TEST(fixture, libexif_reads_back_every_tag_from_its_ifd)
{
    temp_dir dir;
    jpeg_recipe recipe;
    recipe.exif = exif_recipe{};
    recipe.exif->model = "Testcam X100";
    recipe.exif->taken = "2021:07:14 18:03:05";
    recipe.exif->exposure = std::make_pair(1u, 250u);
    recipe.exif->aperture = std::make_pair(5u, 1u);
    recipe.exif->flash = 1;
    recipe.exif->thumbnail_model = "Thumbcam";
    write_jpeg(dir.file("e.jpg"), recipe);

    unique_exif data(exif_data_new_from_file(dir.file("e.jpg").c_str()));
    ASSERT_TRUE(data);
    EXPECT_EQ(entry_text(data.get(), EXIF_IFD_0, EXIF_TAG_MODEL), "Testcam X100");
    EXPECT_EQ(entry_text(data.get(), EXIF_IFD_1, EXIF_TAG_MODEL), "Thumbcam");
    EXPECT_EQ(entry_text(data.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL),
              "2021:07:14 18:03:05");

    const ExifByteOrder order = exif_data_get_byte_order(data.get());
    ExifEntry *e = exif_content_get_entry(data->ifd[EXIF_IFD_EXIF], EXIF_TAG_EXPOSURE_TIME);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->format, EXIF_FORMAT_RATIONAL);
    EXPECT_EQ(exif_get_rational(e->data, order).numerator, 1u);
    EXPECT_EQ(exif_get_rational(e->data, order).denominator, 250u);
    e = exif_content_get_entry(data->ifd[EXIF_IFD_EXIF], EXIF_TAG_APERTURE_VALUE);
    ASSERT_TRUE(e);
    EXPECT_EQ(exif_get_rational(e->data, order).numerator, 5u);
    EXPECT_EQ(exif_get_rational(e->data, order).denominator, 1u);
    e = exif_content_get_entry(data->ifd[EXIF_IFD_EXIF], EXIF_TAG_FLASH);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->format, EXIF_FORMAT_SHORT);
    EXPECT_EQ(exif_get_short(e->data, order), 1u);

    // The image itself is still whole behind the APP1 marker.
    const decoded_jpeg d = decode_jpeg(dir.file("e.jpg"));
    EXPECT_EQ(d.width, recipe.width);
    EXPECT_EQ(d.height, recipe.height);
}

TEST(fixture, only_the_tags_asked_for)
{
    temp_dir dir;
    jpeg_recipe recipe;
    recipe.exif = exif_recipe{};
    recipe.exif->flash = 0;
    write_jpeg(dir.file("flash.jpg"), recipe);
    unique_exif data(exif_data_new_from_file(dir.file("flash.jpg").c_str()));
    ASSERT_TRUE(data);
    EXPECT_EQ(entry_text(data.get(), EXIF_IFD_0, EXIF_TAG_MODEL), "<absent>");
    EXPECT_EQ(entry_text(data.get(), EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME), "<absent>");
    EXPECT_NE(entry_text(data.get(), EXIF_IFD_EXIF, EXIF_TAG_FLASH), "<absent>");

    // Without exif, no APP1 marker at all: libexif finds nothing.
    write_jpeg(dir.file("plain.jpg"), jpeg_recipe{});
    unique_exif none(exif_data_new_from_file(dir.file("plain.jpg").c_str()));
    EXPECT_FALSE(none);
}

// The ICC profile: a real one, as lcms2 reads it; split as asked, it reads
// back whole through libjpeg-turbo, and damaged, not at all.
TEST(fixture, icc_profile_markers_read_back_as_asked)
{
    const std::vector<uint8_t> p3 = display_p3_profile();
    // Display P3's white is the PCS white; its red lies outside sRGB.
    const std::array<double, 3> white = profile_xyz(p3, {255, 255, 255});
    EXPECT_NEAR(white[0], 0.9642, 0.002);
    EXPECT_NEAR(white[1], 1.0, 0.002);
    EXPECT_NEAR(white[2], 0.8249, 0.002);
    const std::array<double, 3> red = profile_xyz(p3, {255, 0, 0});
    EXPECT_NEAR(red[0], 0.5151, 0.002);
    EXPECT_NEAR(red[1], 0.2412, 0.002);
    const std::vector<uint8_t> large = display_p3_profile(150000);
    EXPECT_GE(large.size(), 150000u);
    EXPECT_NEAR(profile_xyz(large, {255, 0, 0})[0], red[0], 1e-6);

    using fault = icc_recipe::fault;
    struct icc_case {
        const char *label;
        icc_recipe icc;
        bool readable;
    };
    const icc_case cases[] = {
        {"one marker", {.profile = p3}, true},
        {"two markers", {.profile = p3, .chunk_size = p3.size() / 2 + 1}, true},
        {"three markers", {.profile = large}, true},
        {"chunk missing",
         {.profile = p3, .chunk_size = 100, .damage = fault::chunk_missing},
         false},
        {"counts differ",
         {.profile = p3, .chunk_size = 100, .damage = fault::counts_differ},
         false},
    };
    for (const icc_case &c : cases) {
        SCOPED_TRACE(c.label);
        temp_dir dir;
        write_jpeg(dir.file("f.jpg"), {.width = 16, .height = 16, .icc = c.icc});
        const decoded_jpeg d = decode_jpeg(dir.file("f.jpg"));
        EXPECT_EQ(d.icc_profile, c.readable ? c.icc.profile : std::vector<uint8_t>{});
        EXPECT_EQ(d.warnings, c.readable ? 0 : 1);
    }
}

// A tag added to a profile is where lcms2 finds it, and reads as made: the
// multi-process elements one stage each, the table that claims more than
// it holds not at all.
TEST(fixture, tags_added_to_a_profile_read_back_through_lcms2)
{
    const std::vector<uint8_t> p3 = display_p3_profile();
    const struct {
        cmsTagSignature signature;
        std::vector<uint8_t> profile;
        int stages;  // -1: not readable
    } cases[] = {
        {cmsSigDToB1Tag, with_tag(p3, "D2B1", multi_process_elements(1)), 1},
        {cmsSigDToB1Tag, with_tag(p3, "D2B1", multi_process_elements(7)), 7},
        {cmsSigBToD0Tag, with_tag(p3, "B2D0", multi_process_elements(3)), 3},
        {cmsSigAToB1Tag, with_tag(p3, "A2B1", lut_claiming_table(9, 3)), -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stages);
        const std::unique_ptr<void, decltype(&cmsCloseProfile)> profile(
            cmsOpenProfileFromMem(c.profile.data(), static_cast<cmsUInt32Number>(c.profile.size())),
            &cmsCloseProfile);
        ASSERT_TRUE(profile);
        EXPECT_TRUE(cmsIsTag(profile.get(), c.signature));
        EXPECT_TRUE(cmsIsTag(profile.get(), cmsSigRedTRCTag));  // the others where they were
        const auto *read = static_cast<cmsPipeline *>(cmsReadTag(profile.get(), c.signature));
        EXPECT_EQ(read ? static_cast<int>(cmsPipelineStageCount(read)) : -1, c.stages);
    }
}

// The HEIF fixture maker writes the boxes its spec asks for: looked for in
// the file's bytes, not through the libheif that decodes them.
TEST(fixture, heif_files_hold_the_boxes_asked_for)
{
    const auto has_box = [](const std::vector<uint8_t> &file, const char *type) {
        return std::search(file.begin(), file.end(), type, type + 4) != file.end();
    };
    using codec = heif_recipe::codec;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(testing::Message() << "orientation " << orientation);
        // 96 x 48 is coded 96 x 64, and cropped.
        const std::vector<uint8_t> grid =
            make_heif({.width = 96, .height = 48, .orientation = orientation});
        const std::vector<uint8_t> clap = make_heif(
            {.width = 96, .height = 48, .orientation = orientation, .clean_aperture = true});
        for (const std::vector<uint8_t> *file : {&grid, &clap})
            EXPECT_EQ(has_box(*file, "irot") || has_box(*file, "imir"), orientation != 1);
        EXPECT_TRUE(has_box(grid, "grid"));
        EXPECT_FALSE(has_box(grid, "clap"));
        EXPECT_TRUE(has_box(clap, "clap"));
        EXPECT_FALSE(has_box(clap, "grid"));
    }
    const std::vector<uint8_t> heic = make_heif({.exif = exif_recipe{.model = "M"}});
    EXPECT_EQ(std::string(heic.begin() + 4, heic.begin() + 12), "ftypheic");
    EXPECT_TRUE(has_box(heic, "Exif"));
    EXPECT_FALSE(has_box(heic, "colr"));
    const std::vector<uint8_t> avif = make_heif({.format = codec::av1});
    EXPECT_EQ(std::string(avif.begin() + 4, avif.begin() + 12), "ftypavif");
    EXPECT_TRUE(has_box(make_heif({.icc_profile = display_p3_profile()}), "prof"));
    EXPECT_TRUE(has_box(make_heif({.nclx = nclx_recipe{.primaries = 12}}), "nclx"));
    // 10 bits per sample in the pixel information box.
    const std::vector<uint8_t> deep = make_heif({.bit_depth = 10});
    static constexpr uint8_t ten_bits[] = {'p', 'i', 'x', 'i', 0, 0, 0, 0, 3, 10, 10, 10};
    EXPECT_NE(std::search(deep.begin(), deep.end(), std::begin(ten_bits), std::end(ten_bits)),
              deep.end());
}
