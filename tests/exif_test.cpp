// EXIF fields as texts: libexif's own rendering, from the first IFD that
// has the tag, read from files that libexif loads as the pipeline does.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "image/codecs/exif.h"
#include "support/jpeg_fixture.h"
#include "support/temp_dir.h"

namespace {

// Read as the pipeline reads a photograph: through its open descriptor.
unique_exif load(const std::string &path)
{
    const unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    unique_exif data = read_exif_data(*byte_source_of(fd.fd));
    if (!data) throw std::runtime_error("no EXIF data in " + path);
    return data;
}

unique_exif load_fixture(const temp_dir &dir, const exif_recipe &exif)
{
    jpeg_recipe recipe;
    recipe.exif = exif;
    write_jpeg(dir.file("e.jpg"), recipe);
    return load(dir.file("e.jpg"));
}

// libexif's rendering of the entry in one IFD, for comparison.
std::string rendered(ExifData *data, ExifIfd ifd, ExifTag tag)
{
    ExifEntry *e = exif_content_get_entry(data->ifd[ifd], tag);
    if (!e) throw std::runtime_error("tag not in that IFD");
    char buffer[1024] = {};
    exif_entry_get_value(e, buffer, sizeof buffer);
    return buffer;
}

// An ASCII entry added by hand to an ExifData built in memory.
void add_ascii(ExifData *data, ExifIfd ifd, ExifTag tag, const char *text)
{
    ExifEntry *e = exif_entry_new();
    const size_t size = std::strlen(text) + 1;
    e->data = static_cast<unsigned char *>(std::malloc(size));
    std::memcpy(e->data, text, size);
    e->tag = tag;
    e->format = EXIF_FORMAT_ASCII;
    e->components = size;
    e->size = static_cast<unsigned int>(size);
    exif_content_add_entry(data->ifd[ifd], e);
    exif_entry_unref(e);
}

exif_recipe camera()
{
    exif_recipe exif;
    exif.model = "Testcam X100";
    exif.taken = "2021:07:14 18:03:05";
    exif.exposure = std::make_pair(1u, 250u);
    exif.aperture = std::make_pair(5u, 1u);
    exif.flash = 0x0019;  // fired, auto mode
    return exif;
}

}  // namespace

// What libexif's own reader of a file finds, by path, a KiB at a time.
std::vector<uint8_t> saved_by_libexif(ExifData *data)
{
    if (!data) return {};
    unsigned char *bytes = nullptr;
    unsigned int size = 0;
    exif_data_save_data(data, &bytes, &size);
    std::vector<uint8_t> saved(bytes, bytes + size);
    std::free(bytes);
    return saved;
}

std::vector<uint8_t> found_by_libexif_itself(const std::string &path)
{
    ExifLoader *loader = exif_loader_new();
    exif_loader_write_file(loader, path.c_str());
    ExifData *data = exif_loader_get_data(loader);
    exif_loader_unref(loader);
    std::vector<uint8_t> saved = saved_by_libexif(data);
    if (data) exif_data_unref(data);
    return saved;
}

TEST(exif, the_data_libexif_finds_reading_the_file_itself)
{
    // Markers of seeded kinds and lengths between the SOI and the EXIF
    // block, so that the loader's pieces end anywhere in them: the markers
    // it skips, a non-EXIF APP1 and an APP6, which it does not know (and
    // gives up at, finding nothing).
    const std::vector<uint8_t> photo =
        make_jpeg({.exif = exif_recipe{.model = "M", .thumbnail_model = "T"}});
    for (const uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u}) {
        SCOPED_TRACE(seed);
        std::mt19937 draw(seed);
        std::vector<uint8_t> bytes(photo.begin(), photo.begin() + 2);
        const int count = static_cast<int>(draw() % 40);
        for (int i = 0; i < count; ++i) {
            static constexpr uint8_t kinds[] = {0xE0, 0xE2, 0xE2, 0xED, 0xFE, 0xE1, 0xE6};
            const uint8_t kind = kinds[draw() % (seed % 4 == 0 ? 7 : 6)];
            const size_t length = draw() % 3 == 0 ? draw() % 64 : draw() % 65534;
            bytes.insert(bytes.end(), {0xFF, kind, static_cast<uint8_t>((length + 2) >> 8),
                                       static_cast<uint8_t>(length + 2)});
            for (size_t k = 0; k < length; ++k) bytes.push_back(static_cast<uint8_t>(draw()));
        }
        bytes.insert(bytes.end(), photo.begin() + 2, photo.end());
        temp_dir dir;
        write_file(dir.file("f.jpg"), std::string(bytes.begin(), bytes.end()));
        const std::vector<uint8_t> expected = found_by_libexif_itself(dir.file("f.jpg"));
        const unique_fd fd(open(dir.file("f.jpg").c_str(), O_RDONLY | O_CLOEXEC));
        const unique_exif data = read_exif_data(*byte_source_of(fd.fd));
        EXPECT_EQ(saved_by_libexif(data.get()), expected);
    }
}

TEST(exif, the_five_fields_as_libexif_renders_them)
{
    temp_dir dir;
    unique_exif data = load_fixture(dir, camera());

    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_MODEL), "Testcam X100");
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_DATE_TIME_ORIGINAL), "2021:07:14 18:03:05");
    // Found in the EXIF IFD after IFD 0 and IFD 1 were searched.
    for (const ExifTag tag : {EXIF_TAG_EXPOSURE_TIME, EXIF_TAG_APERTURE_VALUE, EXIF_TAG_FLASH}) {
        SCOPED_TRACE(exif_tag_get_name(tag));
        const std::string expected = rendered(data.get(), EXIF_IFD_EXIF, tag);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(exif_string(data.get(), tag), expected);
    }
    // The rational seconds come out as a fraction, whatever words surround it.
    EXPECT_NE(exif_string(data.get(), EXIF_TAG_EXPOSURE_TIME)->find("1/250"), std::string::npos);
}

TEST(exif, a_missing_tag_is_none_for_that_field_only)
{
    temp_dir dir;
    exif_recipe exif;
    exif.model = "Testcam X100";
    exif.flash = 0;
    unique_exif data = load_fixture(dir, exif);

    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_MODEL), "Testcam X100");
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_FLASH),
              rendered(data.get(), EXIF_IFD_EXIF, EXIF_TAG_FLASH));
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_DATE_TIME_ORIGINAL), std::nullopt);
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_EXPOSURE_TIME), std::nullopt);
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_APERTURE_VALUE), std::nullopt);
}

TEST(exif, ifd_0_wins_over_a_later_ifd)
{
    temp_dir dir;
    exif_recipe exif = camera();
    exif.thumbnail_model = "Thumbnail maker";
    unique_exif data = load_fixture(dir, exif);
    ASSERT_EQ(rendered(data.get(), EXIF_IFD_1, EXIF_TAG_MODEL), "Thumbnail maker");
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_MODEL), "Testcam X100");

    // Without it in IFD 0, the thumbnail's IFD answers.
    exif.model.reset();
    data = load_fixture(dir, exif);
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_MODEL), "Thumbnail maker");
}

TEST(exif, search_order_skips_empty_and_absent_ifds)
{
    // Built in memory: libexif's loader would move or drop tags that are out
    // of their place, and these cases need them exactly where put.
    unique_exif data(exif_data_new());
    ASSERT_TRUE(data);
    add_ascii(data.get(), EXIF_IFD_GPS, EXIF_TAG_MODEL, "from GPS");
    add_ascii(data.get(), EXIF_IFD_INTEROPERABILITY, EXIF_TAG_MODEL, "from Interoperability");
    add_ascii(data.get(), EXIF_IFD_INTEROPERABILITY, EXIF_TAG_ARTIST, "only in the last");
    add_ascii(data.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL, "2001:02:03 04:05:06");
    add_ascii(data.get(), EXIF_IFD_GPS, EXIF_TAG_DATE_TIME_ORIGINAL, "later");

    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_MODEL), "from GPS");
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_ARTIST), "only in the last");
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_DATE_TIME_ORIGINAL), "2001:02:03 04:05:06");
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_FLASH), std::nullopt);

    // An absent IFD is passed over like an empty one.
    ExifContent *saved[EXIF_IFD_COUNT];
    for (int i = 0; i < EXIF_IFD_COUNT; ++i) saved[i] = data->ifd[i];
    data->ifd[EXIF_IFD_0] = data->ifd[EXIF_IFD_1] = data->ifd[EXIF_IFD_GPS] = nullptr;
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_MODEL), "from Interoperability");
    for (int i = 0; i < EXIF_IFD_COUNT; ++i) data->ifd[i] = saved[i];
}

TEST(exif, empty_and_overlong_texts)
{
    temp_dir dir;
    exif_recipe exif;
    exif.model = "";
    unique_exif data = load_fixture(dir, exif);
    // An empty text is a value: it is not none, and it ends the search.
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_MODEL), "");

    // libexif keeps its rendering within the 1024-byte buffer.
    exif.model = std::string(3000, 'M');
    data = load_fixture(dir, exif);
    EXPECT_EQ(exif_string(data.get(), EXIF_TAG_MODEL), std::string(1023, 'M'));
}

TEST(exif, date_time_as_a_sortable_number)
{
    const struct {
        const char *text;
        std::optional<int64_t> key;
    } cases[] = {
        {"2024:07:14 18:30:05", 20240714183005},
        {"1999:12:31 23:59:60", 19991231235960},  // a leap second
        {"0000:00:00 00:00:00", std::nullopt},    // a camera's unset clock
        {"2024:00:14 18:30:05", std::nullopt},
        {"2024:07:32 18:30:05", std::nullopt},
        {"2024:07:14 24:00:00", std::nullopt},
        {"2024:07:14 18:60:05", std::nullopt},
        {"2024-07-14 18:30:05", std::nullopt},
        {"2024:07:14 18:30:05 ", std::nullopt},
        {"2024:07:14 18:30", std::nullopt},
        {"    :  :     :  :  ", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &c : cases) EXPECT_EQ(exif_date_time(c.text), c.key) << c.text;
}

TEST(exif, orientation_from_ifd_0_only)
{
    temp_dir dir;
    const struct {
        std::optional<uint16_t> value;
        int expected;
    } cases[] = {{std::nullopt, 1}, {1, 1}, {6, 6}, {8, 8}, {0, 1}, {9, 1}};
    for (const auto &c : cases) {
        const std::string path = dir.file("o.jpg");
        write_jpeg(path, {.width = 8,
                          .height = 8,
                          .exif = exif_recipe{.model = "m", .orientation = c.value}});
        ExifData *data = exif_data_new_from_file(path.c_str());
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(exif_orientation(data), c.expected);
        exif_data_free(data);
    }
}
