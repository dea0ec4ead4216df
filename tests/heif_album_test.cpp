// HEIF and AVIF photographs in albums, through the built binary with -i:
// upright derived JPEG files at the upright size (the container's turn
// applied once, the EXIF tag never), every depth and codec, colour
// profiles carried, pages and names, ordering with JPEG files, broken
// files, names taken by a JPEG, orphans with and without -i, -2 and the
// cache.
#include <gtest/gtest.h>

#include <libheif/heif.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "support/heif_fixture.h"
#include "support/icc_fixture.h"
#include "support/jpeg_fixture.h"
#include "support/quadrants.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

using codec = heif_recipe::codec;

constexpr int64_t source_time = 1700000000;

// Every picture is this size upright, 4:3, so that a missed or doubled
// quarter turn shows in the derived sizes.
constexpr int upright_width = 128, upright_height = 96;
// With -H 72 -h 36: 96 x 72 and 48 x 36 when upright.
constexpr int scaled_height = 72, thumb_height = 36;

// The file whose container turn (irot, imir) shows the upright picture.
heif_recipe stored_as(int orientation, heif_recipe spec = {})
{
    const bool sideways = orientation >= 5;
    spec.width = sideways ? upright_height : upright_width;
    spec.height = sideways ? upright_width : upright_height;
    spec.orientation = orientation;
    spec.pixels.assign(size_t(spec.width) * size_t(spec.height) * 3, 0);
    for (int uy = 0; uy < upright_height; ++uy)
        for (int ux = 0; ux < upright_width; ++ux) {
            const auto [sx, sy] = stored_position(orientation, ux, uy, spec.width, spec.height);
            const rgb colour = quadrant_colour(ux, uy, upright_width, upright_height);
            for (int c = 0; c < 3; ++c)
                spec.pixels[(size_t(sy) * size_t(spec.width) + size_t(sx)) * 3 + size_t(c)] =
                    static_cast<uint8_t>(colour[c]);
        }
    return spec;
}

// The derived file is the upright picture: each quadrant's middle in its
// colour, within what two lossy codings leave of flat colours.
void expect_upright(const std::string &path, int width, int height)
{
    SCOPED_TRACE(path);
    const decoded_jpeg d = decode_jpeg(path);
    ASSERT_EQ(d.width, width);
    ASSERT_EQ(d.height, height);
    ASSERT_EQ(d.components, 3);
    for (const auto [x, y] :
         {std::array{width / 4, height / 4}, std::array{3 * width / 4, height / 4},
          std::array{width / 4, 3 * height / 4}, std::array{3 * width / 4, 3 * height / 4}}) {
        const rgb want = quadrant_colour(x, y, width, height);
        const uint8_t *got = d.pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(got[c], want[c], 16) << "at " << x << "," << y << " component " << c;
    }
}

struct album {
    temp_dir gallery;
    std::string dir = gallery.file("a");
    album() { make_dir(dir); }
    std::string path(const std::string &name) const { return dir + "/" + name; }
    std::string in(const char *cache, const std::string &name) const
    {
        return dir + "/" + cache + "/" + name;
    }
    void add_heif(const std::string &name, const heif_recipe &spec) const
    {
        write_heif(path(name), spec);
        set_mtime(path(name), source_time);
    }
    void add_jpeg(const std::string &name, const jpeg_recipe &spec) const
    {
        write_jpeg(path(name), spec);
        set_mtime(path(name), source_time);
    }
    run_result run(std::vector<std::string> options = {}) const
    {
        options.push_back(gallery.path);
        return run_vistrel(options);
    }
};

std::vector<uint8_t> profile_of(const std::string &path) { return decode_jpeg(path).icc_profile; }

// Every kind of HEIF an album may hold, in one album with a JPEG file:
// each one's derived files upright at the upright size, named
// "<name>.jpg", with its page.
TEST(heif_album, every_photo_is_derived_upright_at_its_upright_size)
{
    struct heif_case {
        const char *name;
        int orientation;  // the container's turn
        heif_recipe spec;
    };
    const heif_case cases[] = {
        {"rotated.heic", 6, {}},
        {"rotated left.HEIC", 8, {}},
        {"mirrored.heic", 2, {}},
        {"turned and mirrored.heif", 7, {}},
        // A phone's file: the container turns it, and the EXIF tag says the same turn.
        {"exif rotate 90.heic", 6, {.exif = exif_recipe{.orientation = 6}}},
        // The tag alone: the container shows it as it is stored.
        {"exif only.heic", 1, {.exif = exif_recipe{.orientation = 6}}},
        {"ten bits.heic", 8, {.bit_depth = 10}},
        {"photo.avif", 3, {.format = codec::av1}},
        {"ten bits.AVIF", 6, {.format = codec::av1, .bit_depth = 10}},
    };
    album a;
    for (const heif_case &c : cases) a.add_heif(c.name, stored_as(c.orientation, c.spec));
    a.add_jpeg("camera.jpg", {.width = upright_width, .height = upright_height});
    // Not photographs, even with -i.
    write_file(a.path("notes.heics"), "x");
    write_file(a.path("heic"), "x");

    const run_result r = a.run({"-i", "-H", "72", "-h", "36"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("10 images processed in album"), std::string::npos) << r.out;
    for (const heif_case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string derived = std::string(c.name) + ".jpg";
        EXPECT_NE(r.out.find("Image " + a.path(c.name) + "\n"), std::string::npos);
        expect_upright(a.in(".scaled", derived), scaled_height * upright_width / upright_height,
                       scaled_height);
        expect_upright(a.in(".thumbs", derived), thumb_height * upright_width / upright_height,
                       thumb_height);
        EXPECT_TRUE(is_regular_file(a.path(std::string(c.name) + ".html")));
        EXPECT_FALSE(file_exists(a.path(derived + ".html")));
        EXPECT_FALSE(file_exists(a.in(".scaled", c.name)));
    }
    // The JPEG file keeps its own names.
    EXPECT_TRUE(is_regular_file(a.in(".scaled", "camera.jpg")));
    EXPECT_FALSE(file_exists(a.in(".scaled", "camera.jpg.jpg")));
    EXPECT_FALSE(file_exists(a.path("notes.heics.html")));
}

// What libheif says when it cannot decode the file as vistrel asks it to
// (RGB, interleaved, brought down to 8 bits, the container's turn applied),
// or nothing when it can.
std::optional<std::string> libheif_refusal(const std::string &path)
{
    const std::unique_ptr<heif_context, void (*)(heif_context *)> context(heif_context_alloc(),
                                                                          heif_context_free);
    heif_error error = heif_context_read_from_file(context.get(), path.c_str(), nullptr);
    if (error.code != heif_error_Ok) return error.message;
    heif_image_handle *primary = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &primary);
    if (error.code != heif_error_Ok) return error.message;
    const std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle *)> handle(
        primary, heif_image_handle_release);
    const std::unique_ptr<heif_decoding_options, void (*)(heif_decoding_options *)> options(
        heif_decoding_options_alloc(), heif_decoding_options_free);
    options->convert_hdr_to_8bit = 1;
    heif_image *decoded = nullptr;
    error = heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB,
                              heif_chroma_interleaved_RGB, options.get());
    heif_image_release(decoded);
    if (error.code != heif_error_Ok) return error.message;
    return std::nullopt;
}

// A picture deeper than 8 bits mirrored by its container is derived upright
// where libheif can mirror it. libheif 1.15 cannot, however the file is laid
// out: it mirrors 8-bit planes only, and it turns the picture before it
// brings it down to 8 bits, at the coded depth whether the mirrored item is
// the coded image, a grid, an iden or an overlay ("Can currently only mirror
// images with 8 bits per pixel"). There the photograph is refused whole: the
// run ends with libheif's text and leaves nothing of it, and with -k it is
// left out while the album's other photograph is derived.
TEST(heif_album, a_deep_mirrored_photo_is_derived_upright_or_refused_whole)
{
    for (const codec format : {codec::hevc, codec::av1}) {
        SCOPED_TRACE(format == codec::hevc ? "HEIC" : "AVIF");
        album a;
        a.add_heif(
            "deep.heic",
            stored_as(5, {.format = format, .bit_depth = 10, .exif = exif_recipe{.model = "M"}}));
        // With EXIF: the only messages are the refusal's.
        a.add_jpeg("camera.jpg", {.width = upright_width,
                                  .height = upright_height,
                                  .exif = exif_recipe{.model = "M"}});
        const std::optional<std::string> refusal = libheif_refusal(a.path("deep.heic"));
        const run_result r = a.run({"-i", "-H", "72", "-h", "36"});
        if (!refusal) {
            ASSERT_EQ(r.status, 0) << r.err;
            expect_upright(a.in(".scaled", "deep.heic.jpg"), 96, 72);
            expect_upright(a.in(".thumbs", "deep.heic.jpg"), 48, 36);
            continue;
        }

        const std::string failure = "vistrel: " + a.path("deep.heic") + ": " + *refusal + "\n";
        const auto expect_nothing_of_it = [&] {
            for (const char *dir : {".scaled", ".thumbs"}) {
                EXPECT_FALSE(file_exists(a.in(dir, "deep.heic.jpg"))) << dir;
                EXPECT_FALSE(file_exists(a.in(dir, "deep.heic.jpg.tmp"))) << dir;
            }
            EXPECT_FALSE(file_exists(a.path("deep.heic.html")));
        };
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, failure + "use -k to leave unreadable photos out and make the rest\n");
        expect_nothing_of_it();

        const run_result kept = a.run({"-i", "-k", "-H", "72", "-h", "36"});
        EXPECT_EQ(kept.status, 1);
        EXPECT_EQ(kept.err, "vistrel: left out " + a.path("deep.heic") + ": " + *refusal +
                                "\nvistrel: 1 photo could not be read and was left out: "
                                "a/deep.heic\n");
        expect_nothing_of_it();
        EXPECT_EQ(read_file(a.path("index.html")).find("deep.heic"), std::string::npos);
        EXPECT_TRUE(is_regular_file(a.path("camera.jpg.html")));
        EXPECT_EQ(decode_jpeg(a.in(".scaled", "camera.jpg")).height, scaled_height);
    }
}

// The page of a HEIF photograph shows its derived JPEG files, states its
// upright size and links the HEIF file itself as the original; the index
// and the neighbours' links go to its page.
TEST(heif_album, pages_show_the_derived_files_and_link_the_original)
{
    album a;
    a.add_heif("IMG_0001.HEIC", stored_as(6, {.exif = exif_recipe{.orientation = 6}}));
    a.add_jpeg("IMG_0002.jpg", {.width = upright_width, .height = upright_height});
    // Doubles no larger than the photograph: -H 48 -h 24.
    const run_result r = a.run({"-i", "-2", "-C", "-H", "48", "-h", "24"});
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string page = read_file(a.path("IMG_0001.HEIC.html"));
    const size_t kb = static_cast<size_t>(read_file(a.path("IMG_0001.HEIC")).size() / 1024);
    EXPECT_NE(
        page.find(
            "<a href=\"IMG_0001.HEIC\"><img src=\".scaled/IMG_0001.HEIC.jpg\" "
            "srcset=\".scaled/IMG_0001.HEIC.jpg 64w, .scaled2x/IMG_0001.HEIC.jpg 128w\" sizes=\""),
        std::string::npos)
        << page;
    EXPECT_NE(page.find("<small><a href=\"IMG_0001.HEIC\">Original size (128 x 96, " +
                        std::to_string(kb) + " KB)</a></small>"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<a href=\"IMG_0002.jpg.html\"><img src=\".thumbs/IMG_0002.jpg\""),
              std::string::npos);

    const std::string next = read_file(a.path("IMG_0002.jpg.html"));
    EXPECT_NE(
        next.find(
            "<a href=\"IMG_0001.HEIC.html\"><img src=\".thumbs/IMG_0001.HEIC.jpg\" "
            "srcset=\".thumbs2x/IMG_0001.HEIC.jpg 2x\" border=\"0\" width=\"32\" height=\"24\" "
            "alt=\"IMG_0001.HEIC\">"),
        std::string::npos)
        << next;
    const std::string index = read_file(a.path("index.html"));
    EXPECT_NE(index.find(
                  "<a href=\"IMG_0001.HEIC.html\"><img src=\".thumbs/IMG_0001.HEIC.jpg\" "
                  "srcset=\".thumbs2x/IMG_0001.HEIC.jpg 2x\" border=\"0\" alt=\"IMG_0001.HEIC\" "
                  "width=\"32\" height=\"24\"></a>"),
              std::string::npos)
        << index;
    const std::string gallery_page = read_file(a.gallery.file("index.html"));
    EXPECT_NE(gallery_page.find("src=\"a/.scaled/IMG_0001.HEIC.jpg\""), std::string::npos)
        << gallery_page;

    // -2: the double-density files, upright at twice the size, and the photo's
    // box of the largest one's size.
    EXPECT_NE(page.find("border=\"0\" width=\"64\" height=\"48\" style=\"--w: 128; --h: 96\" "
                        "alt=\"IMG_0001.HEIC\"></a>"),
              std::string::npos)
        << page;
    for (const auto &[dir, width, height] :
         {std::tuple{".scaled", 64, 48}, std::tuple{".thumbs", 32, 24},
          std::tuple{".scaled2x", 128, 96}, std::tuple{".thumbs2x", 64, 48}})
        expect_upright(a.in(dir, "IMG_0001.HEIC.jpg"), width, height);
}

// The EXIF fields of a HEIF come from its Exif item as a JPEG's do: on the
// page, in -s taken order among the JPEG files, and the same warning
// without one.
TEST(heif_album, exif_fields_and_taken_order_work_as_for_jpeg_files)
{
    album a;
    const auto taken = [](const char *when) {
        return exif_recipe{.model = "Pocket Camera", .taken = when};
    };
    a.add_jpeg("a.jpg", {.exif = taken("2024:03:01 10:00:00")});
    a.add_heif("b.heic", {.exif = taken("2024:01:01 10:00:00")});
    a.add_heif("c.avif", {.format = codec::av1, .exif = taken("2024:02:01 10:00:00")});
    a.add_jpeg("d.jpg", {.exif = taken("2024:04:01 10:00:00")});
    a.add_heif("e.heic", {.exif = exif_recipe{.model = "Pocket Camera",
                                              .taken = "2024:02:15 10:00:00",
                                              .exposure = std::pair<uint32_t, uint32_t>{1, 250},
                                              .flash = 16}});
    a.add_heif("plain.heic", {});
    const run_result r = a.run({"-i", "-s", "taken"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "   plain.heic: no EXIF data found\n");

    // Taken first to last, then the one without a date, as for JPEG files.
    const std::string index = read_file(a.path("index.html"));
    size_t at = 0;
    for (const char *name : {"b.heic", "c.avif", "e.heic", "a.jpg", "d.jpg", "plain.heic"}) {
        SCOPED_TRACE(name);
        const size_t found = index.find(std::string("alt=\"") + name + "\"", at);
        ASSERT_NE(found, std::string::npos) << index;
        at = found;
    }
    const std::string page = read_file(a.path("e.heic.html"));
    for (const char *text :
         {"Pocket Camera", "2024:02:15 10:00:00", "1/250 sec.", "Flash did not fire"})
        EXPECT_NE(page.find(text), std::string::npos) << text << "\n" << page;
}

// A colour profile in the file is carried byte for byte into every derived
// file, -2's included; an sRGB file gets none.
TEST(heif_album, colour_profiles_are_carried_into_every_derived_file)
{
    const std::vector<uint8_t> p3 = display_p3_profile();
    struct profile_case {
        const char *name;
        heif_recipe spec;
        bool tagged;
    };
    const profile_case cases[] = {
        {"p3.heic", {.icc_profile = p3}, true},
        {"p3.avif", {.format = codec::av1, .icc_profile = p3}, true},
        {"p3 ten bits.heic", {.bit_depth = 10, .icc_profile = p3}, true},
        {"srgb.heic", {.nclx = nclx_recipe{}}, false},
        {"untagged.heic", {}, false},
    };
    album a;
    for (const profile_case &c : cases) a.add_heif(c.name, c.spec);
    const run_result r = a.run({"-i", "-2"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const profile_case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const char *dir : {".scaled", ".thumbs", ".scaled2x", ".thumbs2x"})
            EXPECT_EQ(profile_of(a.in(dir, std::string(c.name) + ".jpg")),
                      c.tagged ? p3 : std::vector<uint8_t>{})
                << dir;
    }
}

// The first length field of the coded data claiming far more than there
// is: the boxes read, the decode fails.
std::vector<uint8_t> with_bad_length(std::vector<uint8_t> bytes)
{
    static constexpr uint8_t mdat[4] = {'m', 'd', 'a', 't'};
    const auto at = std::search(bytes.begin(), bytes.end(), mdat, mdat + 4);
    if (at == bytes.end()) throw std::runtime_error("no mdat box");
    std::fill(at + 4, at + 8, 0xFF);
    return bytes;
}

// A file libheif cannot read ends the run with libheif's text and leaves
// nothing of it, whether its boxes or its coded data are broken; with -f
// and derived files of an earlier run, those stay as they were.
TEST(heif_album, a_broken_file_ends_the_run_with_libheifs_text)
{
    // With EXIF: the only message is the failure.
    const std::vector<uint8_t> heic =
        make_heif({.width = 128, .height = 96, .exif = exif_recipe{.model = "M"}});
    struct broken_case {
        const char *label;
        std::string bytes;
        const char *text;
    };
    const std::vector<uint8_t> bad_nal = with_bad_length(heic);
    const broken_case cases[] = {
        {"not a HEIF", "GIF89a, not a HEIF at all", "Invalid input: No 'ftyp' box"},
        {"cut inside its boxes", std::string(heic.begin(), heic.begin() + 200),
         "Invalid input: No 'meta' box"},
        {"bad NAL unit size", std::string(bad_nal.begin(), bad_nal.end()),
         "Invalid input: Unspecified: NAL stream was rejected because a NAL unit size is invalid."},
    };
    for (const broken_case &c : cases) {
        SCOPED_TRACE(c.label);
        album a;
        write_file(a.path("bad.heic"), c.bytes);
        const run_result r = a.run({"-i"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "vistrel: " + a.path("bad.heic") + ": " + c.text + "\n" +
                             "use -k to leave unreadable photos out and make the rest\n");
        for (const char *dir : {".scaled", ".thumbs"}) {
            EXPECT_FALSE(file_exists(a.in(dir, "bad.heic.jpg")));
            EXPECT_FALSE(file_exists(a.in(dir, "bad.heic.jpg.tmp")));
        }
        EXPECT_FALSE(file_exists(a.path("bad.heic.html")));
        // Without -i it is no photograph at all.
        const run_result plain = a.run();
        EXPECT_EQ(plain.status, 0) << plain.err;
    }
}

// X.heic and X.heic.jpg would write the same derived files: the JPEG file
// keeps them, and the HEIF is left out with a warning, with or without
// other work going on in parallel.
TEST(heif_album, a_jpeg_keeps_derived_names_a_heif_would_take)
{
    for (const char *jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        album a;
        const exif_recipe exif{.model = "M"};
        a.add_heif("X.heic", stored_as(6, {.exif = exif}));  // 96 x 128 if it were derived
        // 200 x 100: its derived files tell whose they are.
        a.add_jpeg("X.heic.jpg", {.width = 200, .height = 100, .exif = exif});
        a.add_heif("Y.HEIC", {.exif = exif});
        a.add_jpeg("Y.HEIC.JPG",
                   {.width = 200, .height = 100, .exif = exif});  // another name: no collision
        const run_result r = a.run({"-i", "-j", jobs});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "   X.heic: its derived names belong to X.heic.jpg, skipped\n");
        EXPECT_NE(r.out.find("3 images processed in album"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Image " + a.path("X.heic") + "\n"), std::string::npos) << r.out;
        EXPECT_EQ(decode_jpeg(a.in(".scaled", "X.heic.jpg")).width, 960);
        EXPECT_EQ(decode_jpeg(a.in(".thumbs", "X.heic.jpg")).width, 192);
        EXPECT_FALSE(file_exists(a.path("X.heic.html")));
        EXPECT_TRUE(is_regular_file(a.path("X.heic.jpg.html")));
        EXPECT_EQ(read_file(a.path("index.html")).find("alt=\"X.heic\""), std::string::npos);
        EXPECT_TRUE(is_regular_file(a.in(".scaled", "Y.HEIC.jpg")));
        EXPECT_TRUE(is_regular_file(a.in(".scaled", "Y.HEIC.JPG")));
    }
}

struct file_identity {
    ino_t inode = 0;
    timespec mtime{};
};

file_identity identity(const std::string &path)
{
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return {status.st_ino, status.st_mtim};
}

bool same(const file_identity &a, const file_identity &b)
{
    return a.inode == b.inode && a.mtime.tv_sec == b.mtime.tv_sec &&
           a.mtime.tv_nsec == b.mtime.tv_nsec;
}

// A second run makes no derived file again; a HEIF newer than its derived
// files, or -f, makes them again.
TEST(heif_album, derived_files_are_cached_like_any_other)
{
    album a;
    a.add_heif("a.heic", {});
    a.add_heif("b.avif", {.format = codec::av1});
    a.add_jpeg("c.jpg", {});
    const std::vector<std::string> derived = {"a.heic.jpg", "b.avif.jpg", "c.jpg"};
    const char *dirs[] = {".scaled", ".thumbs", ".scaled2x", ".thumbs2x", ".big"};
    ASSERT_EQ(a.run({"-i", "-2", "-b"}).status, 0);
    std::vector<file_identity> first;
    for (const char *dir : dirs)
        for (const std::string &name : derived) first.push_back(identity(a.in(dir, name)));

    const auto check = [&](const std::vector<std::string> &options,
                           const std::vector<std::string> &remade) {
        const run_result r = a.run(options);
        ASSERT_EQ(r.status, 0) << r.err;
        size_t i = 0;
        for (const char *dir : dirs)
            for (const std::string &name : derived) {
                const bool expect_remade = std::find(remade.begin(), remade.end(), name) !=
                                           remade.end();
                const file_identity now = identity(a.in(dir, name));
                EXPECT_EQ(!same(now, first[i]), expect_remade) << dir << "/" << name;
                first[i++] = now;
            }
    };
    {
        SCOPED_TRACE("second run");
        check({"-i", "-2", "-b"}, {});
    }
    {
        SCOPED_TRACE("one HEIF changed");
        set_mtime(a.path("b.avif"), source_time + 3600 * 24 * 365 * 40);
        check({"-i", "-2", "-b"}, {"b.avif.jpg"});
    }
    {
        SCOPED_TRACE("-f");
        check({"-i", "-2", "-b", "-f"}, derived);
    }
}

// Without -i, what an -i run derived from HEIF files is orphaned: derived
// files and page deleted with a line each; the JPEG file's stay. With -i,
// the files of a HEIF that has gone go the same way.
TEST(heif_album, derived_files_of_heif_photos_are_orphans_without_i)
{
    album a;
    a.add_heif("IMG_0001.HEIC", {});
    a.add_heif("b.avif", {.format = codec::av1});
    a.add_jpeg("c.jpg", {});
    ASSERT_EQ(a.run({"-i", "-2"}).status, 0);
    for (const char *page : {"IMG_0001.HEIC.html", "b.avif.html", "c.jpg.html"})
        ASSERT_TRUE(is_regular_file(a.path(page))) << page;

    {
        SCOPED_TRACE("with -i again: nothing is an orphan");
        const run_result r = a.run({"-i", "-2"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find("deleted orphan"), std::string::npos) << r.out;
    }
    {
        SCOPED_TRACE("with -i, a HEIF gone");
        std::remove(a.path("b.avif").c_str());
        const run_result r = a.run({"-i", "-2"});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string &line : {"deleted orphan " + a.in(".scaled", "b.avif.jpg") + "\n",
                                        "deleted orphan " + a.path("b.avif.html") + "\n",
                                        "deleted orphan " + a.in(".thumbs", "b.avif.jpg") + "\n",
                                        "deleted orphan " + a.in(".scaled2x", "b.avif.jpg") + "\n",
                                        "deleted orphan " + a.in(".thumbs2x", "b.avif.jpg") + "\n"})
            EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
        EXPECT_FALSE(file_exists(a.path("b.avif.html")));
        EXPECT_TRUE(is_regular_file(a.path("IMG_0001.HEIC.html")));
    }
    {
        SCOPED_TRACE("without -i");
        const run_result r = a.run();
        ASSERT_EQ(r.status, 0) << r.err;
        // The page goes with the first cache directory's pass.
        std::string expected = "Image " + a.path("c.jpg") + "\n1 thumbnail index pages created.\n";
        for (const std::string &deleted :
             {a.in(".scaled2x", "IMG_0001.HEIC.jpg"), a.path("IMG_0001.HEIC.html"),
              a.in(".scaled", "IMG_0001.HEIC.jpg"), a.in(".thumbs2x", "IMG_0001.HEIC.jpg"),
              a.in(".thumbs", "IMG_0001.HEIC.jpg")})
            expected += "deleted orphan " + deleted + "\n";
        EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
        for (const char *dir : {".scaled", ".thumbs", ".scaled2x", ".thumbs2x"}) {
            EXPECT_FALSE(file_exists(a.in(dir, "IMG_0001.HEIC.jpg"))) << dir;
            EXPECT_TRUE(is_regular_file(a.in(dir, "c.jpg"))) << dir;
        }
        EXPECT_FALSE(file_exists(a.path("IMG_0001.HEIC.html")));
        EXPECT_TRUE(is_regular_file(a.path("IMG_0001.HEIC")));
        EXPECT_TRUE(is_regular_file(a.path("c.jpg.html")));
    }
}

// Without -i, the HEIF and AVIF files an album holds are counted in one
// line for the album, by a run that makes pages; a part run, a run with -i
// and an album without them say nothing of it.
TEST(heif_album, without_i_the_heif_files_left_aside_are_counted_once_per_album)
{
    temp_dir g;
    const std::map<std::string, std::vector<std::string>> albums = {
        {"a", {"IMG_1.HEIC", "IMG_2.heic", "x.avif", "y.heif", "p.jpg"}},
        {"b", {"IMG_3.HEIC", "q.jpg"}},
        {"c", {"r.jpg", "notes.txt"}},
    };
    for (const auto &[name, files] : albums) {
        make_dir(g.file(name));
        for (const std::string &file : files) {
            if (file.ends_with(".jpg")) {
                write_jpeg(g.file(name + "/" + file), {.width = 64, .height = 48});
            } else {
                write_heif(g.file(name + "/" + file), {.width = 64, .height = 48});
            }
        }
    }
    make_dir(g.file("c/dir.heic"));  // a directory is no photograph
    const std::string a = "   " + g.file("a") + ": not included: 4 HEIF or AVIF photos (give -i)\n";
    const std::string b = "   " + g.file("b") + ": not included: 1 HEIF or AVIF photo (give -i)\n";
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{}, a + b}, {{"-q"}, a + b}, {{"-p", "1/2"}, ""}, {{"-i"}, ""}, {{"-m"}, ""},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(g.path);
        const run_result r = run_vistrel(args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string hints;
        for (size_t at = 0; at < r.err.size();) {
            const size_t end = r.err.find('\n', at);
            const std::string line = r.err.substr(at, end + 1 - at);
            if (line.find(": not included: ") != std::string::npos) hints += line;
            at = end + 1;
        }
        EXPECT_EQ(hints, c.err) << (c.args.empty() ? "" : c.args[0]);
    }
}

}  // namespace
