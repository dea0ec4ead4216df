// Every image derived, end to end: sizes, components, the DCT reduction,
// the freshness table, -f and -l, ICC profiles, and what broken files do to
// a run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <jpeglib.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "image/resample/resample.h"
#include "support/icc_fixture.h"
#include "support/jpeg_fixture.h"
#include "support/run_as_nobody.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

constexpr int64_t source_time = 1700000000;

// What a derived file made from a decoded picture must hold: the picture
// resampled by the product's resampler, encoded with libjpeg's defaults
// alone, and tagged with the given ICC profile, if any.
std::string derived_from(const decoded_jpeg &decoded, int width, int height,
                         resampler_fn resample = resize_area,
                         const std::vector<uint8_t> &icc_profile = {})
{
    jpeg_error_mgr errors;
    jpeg_compress_struct out;
    out.err = jpeg_std_error(&errors);
    jpeg_create_compress(&out);
    unsigned char *bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&out, &bytes, &size);
    out.image_width = static_cast<JDIMENSION>(width);
    out.image_height = static_cast<JDIMENSION>(height);
    out.input_components = decoded.components;
    out.in_color_space = decoded.components == 1   ? JCS_GRAYSCALE
                         : decoded.components == 4 ? JCS_CMYK
                                                   : JCS_RGB;
    jpeg_set_defaults(&out);

    const size_t row = size_t(width) * decoded.components;
    std::vector<JSAMPLE> pixels(size_t(height) * row);
    JSAMPLE *dst = pixels.data();
    EXPECT_EQ(resample({decoded.pixels.data(), static_cast<uint32_t>(decoded.width),
                        static_cast<uint32_t>(decoded.height), decoded.components,
                        size_t(decoded.width) * decoded.components},
                       {dst, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                        decoded.components, row}),
              0);
    jpeg_start_compress(&out, TRUE);
    if (!icc_profile.empty())
        jpeg_write_icc_profile(&out, icc_profile.data(),
                               static_cast<unsigned int>(icc_profile.size()));
    while (out.next_scanline < out.image_height) {
        JSAMPROW scanline = dst + size_t(out.next_scanline) * width * decoded.components;
        jpeg_write_scanlines(&out, &scanline, 1);
    }
    jpeg_finish_compress(&out);
    jpeg_destroy_compress(&out);
    std::string result(reinterpret_cast<char *>(bytes), size);
    std::free(bytes);
    return result;
}

// What a derived file must hold: the source decoded at 1/denom, then made
// as above.
std::string expected_derived(const std::string &source, int denom, int width, int height,
                             resampler_fn resample = resize_area,
                             const std::vector<uint8_t> &icc_profile = {})
{
    return derived_from(decode_jpeg(source, denom), width, height, resample, icc_profile);
}

// The picture made `factor` times smaller each way: every pixel the rounded
// mean of the block it covers, the blocks at the right and bottom edges
// being what is left.
decoded_jpeg block_means(const decoded_jpeg &picture, int factor)
{
    decoded_jpeg smaller = picture;
    smaller.width = (picture.width + factor - 1) / factor;
    smaller.height = (picture.height + factor - 1) / factor;
    const int n = picture.components;
    smaller.pixels.assign(size_t(smaller.width) * smaller.height * n, 0);
    for (int y = 0; y < smaller.height; ++y)
        for (int x = 0; x < smaller.width; ++x)
            for (int c = 0; c < n; ++c) {
                unsigned sum = 0, count = 0;
                for (int v = y * factor; v < std::min(picture.height, (y + 1) * factor); ++v)
                    for (int u = x * factor; u < std::min(picture.width, (x + 1) * factor); ++u) {
                        sum += picture.pixels[(size_t(v) * picture.width + u) * n + c];
                        ++count;
                    }
                smaller.pixels[(size_t(y) * smaller.width + x) * n + c] =
                    static_cast<uint8_t>((sum + count / 2) / count);
            }
    return smaller;
}

struct album {
    temp_dir gallery;
    std::string dir = gallery.file("a");
    album() { make_dir(dir); }
    std::string image(const std::string &name) const { return dir + "/" + name; }
    std::string scaled(const std::string &name) const { return dir + "/.scaled/" + name; }
    std::string thumb(const std::string &name) const { return dir + "/.thumbs/" + name; }
    void add(const std::string &name, const jpeg_recipe &recipe) const
    {
        write_jpeg(image(name), recipe);
        set_mtime(image(name), source_time);
    }
    run_result run(std::vector<std::string> options = {}) const
    {
        options.push_back(gallery.path);
        return run_vistrel(options);
    }
};

TEST(pipeline, derived_sizes_and_components)
{
    struct size_case {
        const char *name;
        int width, height, components;
        int scaled_width, thumb_width;
    };
    const size_case cases[] = {
        {"landscape.jpg", 4000, 3000, 3, 640, 128},
        {"portrait.jpg", 3000, 4000, 3, 360, 72},
        {"xga.jpg", 1024, 768, 3, 640, 128},
        {"grey.jpg", 300, 200, 1, 720, 144},  // lower than the setting: enlarged
        {"cmyk.jpg", 200, 100, 4, 960, 192},
        {"needle.jpg", 1, 961, 3, 1, 1},  // would round to 0 pixels wide
    };
    album a;
    for (const size_case &c : cases)
        a.add(c.name, {.width = c.width, .height = c.height, .components = c.components});
    const run_result r = a.run();
    ASSERT_EQ(r.status, 0) << r.err;
    for (const size_case &c : cases) {
        SCOPED_TRACE(c.name);
        const decoded_jpeg scaled = decode_jpeg(a.scaled(c.name));
        EXPECT_EQ(scaled.width, c.scaled_width);
        EXPECT_EQ(scaled.height, 480);
        EXPECT_EQ(scaled.components, c.components);
        const decoded_jpeg thumb = decode_jpeg(a.thumb(c.name));
        EXPECT_EQ(thumb.width, c.thumb_width);
        EXPECT_EQ(thumb.height, 96);
        EXPECT_EQ(thumb.components, c.components);
        EXPECT_FALSE(file_exists(a.scaled(std::string(c.name) + ".tmp")));
        EXPECT_FALSE(file_exists(a.thumb(std::string(c.name) + ".tmp")));
    }
}

// A square source scaled to 100 x 100 and thumbnailed to 50 x 50: the
// reduction follows the width ratio to the scaled image, and the thumbnail
// is made from that same decode.
TEST(pipeline, reduction_thresholds_give_the_exact_bytes)
{
    struct threshold_case {
        int side;
        int denom;
    };
    const threshold_case cases[] = {{199, 1}, {200, 2}, {399, 2}, {400, 4}, {799, 4}, {800, 8}};
    album a;
    for (const threshold_case &c : cases)
        a.add(std::to_string(c.side) + ".jpg",
              {.width = c.side, .height = c.side, .seed = uint32_t(c.side)});
    const run_result r = a.run({"-H", "100", "-h", "50"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const threshold_case &c : cases) {
        const std::string name = std::to_string(c.side) + ".jpg";
        SCOPED_TRACE(name);
        EXPECT_EQ(read_file(a.scaled(name)), expected_derived(a.image(name), c.denom, 100, 100));
        EXPECT_EQ(read_file(a.thumb(name)), expected_derived(a.image(name), c.denom, 50, 50));
    }
}

// -b's big image needs a larger decode than the others. It is made from
// that decode; the others from it brought down, block by block, to the
// reduction they would have been decoded at without -b, then resampled as
// always. A big image of the photograph's own size is the decode itself.
TEST(pipeline, after_the_big_image_the_others_come_from_block_means)
{
    struct block_case {
        const char *label;
        int width, height, components;
        std::vector<std::string> options;
        int denom;      // the decode's reduction, which the big image sets
        int then;       // the block for the others
        int big_width;  // the big image's size (its height is in proportion)
    };
    // -H 100 -h 50: the big image is 300 high, the dense one 200.
    const block_case cases[] = {
        {"square", 400, 400, 3, {"-b"}, 1, 4, 300},
        {"odd", 401, 267, 3, {"-b"}, 1, 2, 401},  // 300 high is more than the photograph
        {"grey", 250, 250, 1, {"-b"}, 1, 2, 250},
        {"cmyk", 400, 300, 4, {"-b"}, 1, 2, 399},
        {"dense", 1200, 800, 3, {"-b", "-2"}, 2, 2, 450},
        {"same_reduction", 799, 799, 3, {"-b", "-2"}, 2, 1, 300},
    };
    for (const block_case &c : cases) {
        SCOPED_TRACE(c.label);
        album a;
        a.add("p.jpg", {.width = c.width, .height = c.height, .components = c.components});
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"-H", "100", "-h", "50"});
        const run_result r = a.run(options);
        ASSERT_EQ(r.status, 0) << r.err;
        const decoded_jpeg decoded = decode_jpeg(a.image("p.jpg"), c.denom);
        const int big_height = c.big_width == c.width ? c.height : 300;
        EXPECT_EQ(read_file(a.dir + "/.big/p.jpg"), derived_from(decoded, c.big_width, big_height));
        const decoded_jpeg reduced = c.then > 1 ? block_means(decoded, c.then) : decoded;
        const int scaled_width = static_cast<int>(100.0 * c.width / c.height + 0.5);
        const int thumb_width = static_cast<int>(50.0 * c.width / c.height + 0.5);
        EXPECT_EQ(read_file(a.scaled("p.jpg")), derived_from(reduced, scaled_width, 100));
        EXPECT_EQ(read_file(a.thumb("p.jpg")), derived_from(reduced, thumb_width, 50));
        if (file_exists(a.dir + "/.scaled2x/p.jpg")) {
            EXPECT_EQ(read_file(a.dir + "/.scaled2x/p.jpg"),
                      derived_from(reduced, 2 * scaled_width, 200));
        }
    }
}

TEST(pipeline, bilinear_option_selects_the_other_resampler)
{
    album a;
    a.add("p.jpg", {.width = 1000, .height = 750, .seed = 7});
    const run_result r = a.run({"-l"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(a.scaled("p.jpg")),
              expected_derived(a.image("p.jpg"), 1, 640, 480, resize_bilinear));
    EXPECT_EQ(read_file(a.thumb("p.jpg")),
              expected_derived(a.image("p.jpg"), 1, 128, 96, resize_bilinear));
    EXPECT_NE(read_file(a.scaled("p.jpg")),
              expected_derived(a.image("p.jpg"), 1, 640, 480, resize_area));
}

// The freshness table: which derived files are rewritten, and from which
// decode. A derived file that is not to be touched holds a marker.
TEST(pipeline, only_stale_derived_files_are_rebuilt)
{
    struct freshness_case {
        const char *label;
        int64_t scaled_offset, thumb_offset;  // derived mtime - source mtime
        bool force;
        bool scaled_rebuilt, thumb_rebuilt;
    };
    const freshness_case cases[] = {
        {"both fresh", 0, 5, false, false, false},  {"scaled stale", -1, 0, false, true, false},
        {"thumb stale", 0, -1, false, false, true}, {"both stale", -1, -100, false, true, true},
        {"forced", 0, 0, true, true, true},
    };
    for (const freshness_case &c : cases) {
        SCOPED_TRACE(c.label);
        album a;
        // 4000 wide: the scaled image (640) is decoded at 1/4, the
        // thumbnail (128) alone at 1/8.
        a.add("big.jpg", {.width = 4000, .height = 3000, .seed = 3});
        make_dir(a.dir + "/.scaled");
        make_dir(a.dir + "/.thumbs");
        write_file(a.scaled("big.jpg"), "marker");
        write_file(a.thumb("big.jpg"), "marker");
        set_mtime(a.scaled("big.jpg"), source_time + c.scaled_offset);
        set_mtime(a.thumb("big.jpg"), source_time + c.thumb_offset);

        const run_result r =
            a.run(c.force ? std::vector<std::string>{"-f"} : std::vector<std::string>{});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("Image " + a.image("big.jpg") + "\n"), std::string::npos);
        EXPECT_EQ(read_file(a.scaled("big.jpg")),
                  c.scaled_rebuilt ? expected_derived(a.image("big.jpg"), 4, 640, 480) : "marker");
        const int thumb_denom = c.scaled_rebuilt ? 4 : 8;
        EXPECT_EQ(read_file(a.thumb("big.jpg")),
                  c.thumb_rebuilt ? expected_derived(a.image("big.jpg"), thumb_denom, 128, 96)
                                  : "marker");
        // Pages are written whatever the cache holds.
        EXPECT_TRUE(file_exists(a.image("big.jpg.html")));
    }
}

TEST(pipeline, exif_absence_is_reported_and_the_run_goes_on)
{
    album a;
    a.add("plain.jpg", {.width = 40, .height = 30});
    a.add("camera.jpg", {.width = 40, .height = 30, .exif = exif_recipe{.model = "Camera X"}});
    const run_result r = a.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "   plain.jpg: no EXIF data found\n");
    EXPECT_TRUE(file_exists(a.scaled("plain.jpg")));
}

TEST(pipeline, truncated_jpeg_warns_and_still_yields_derived_files)
{
    album a;
    std::vector<uint8_t> bytes = make_jpeg({.width = 400, .height = 300, .seed = 9});
    bytes.resize(bytes.size() / 2);
    write_file(a.image("cut.jpg"), std::string(bytes.begin(), bytes.end()));
    const run_result r = a.run();
    EXPECT_EQ(r.status, 0) << r.err;
    // libjpeg's warnings name the file, like its fatal messages.
    EXPECT_NE(r.err.find("vistrel: " + a.image("cut.jpg") + ": Premature end of JPEG file\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(decode_jpeg(a.scaled("cut.jpg")).width, 640);
    EXPECT_EQ(decode_jpeg(a.thumb("cut.jpg")).width, 128);
}

// Photographs whose end marker comes after bytes that are no marker: a
// short run of them is read as libjpeg reads it, warnings and all, but the
// search for the marker gives up within a bounded distance, as at the end of
// the file, so a sparse tail of 3 GB costs what the image data costs (only
// libjpeg's first warning is shown).
TEST(pipeline, a_tail_without_markers_is_read_no_further_than_needed)
{
    struct tail_case {
        const char *what;
        off_t tail;           // zeros between the image data and the end marker, if any
        const char *warning;  // libjpeg's
    };
    const tail_case cases[] = {
        {"no end marker", -1, "Premature end of JPEG file\n"},
        // The decoder takes a few of the zeros as the last bits of the image data.
        {"a short tail", 1000, "Corrupt JPEG data: 993 extraneous bytes before marker 0xd9\n"},
        {"a sparse tail of 3 GB", off_t{3} << 30, "Premature end of JPEG file\n"},
    };
    for (const tail_case &c : cases) {
        SCOPED_TRACE(c.what);
        album a;
        std::vector<uint8_t> bytes = make_jpeg({.width = 400, .height = 300, .seed = 5});
        bytes.resize(bytes.size() - 2);  // the end marker
        const std::string photo = a.image("tail.jpg");
        write_file(photo, std::string(bytes.begin(), bytes.end()));
        if (c.tail >= 0) {
            ASSERT_EQ(truncate(photo.c_str(), static_cast<off_t>(bytes.size()) + c.tail), 0);
            append_file(photo, "\xFF\xD9");
        }
        const run_result r = a.run();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "   tail.jpg: no EXIF data found\nvistrel: " + photo + ": " + c.warning);
        EXPECT_EQ(decode_jpeg(a.scaled("tail.jpg")).width, 640);
    }
}

TEST(pipeline, a_file_that_is_no_jpeg_ends_the_run_without_leftovers)
{
    album a;
    write_file(a.image("fake.jpg"), "GIF89a not a jpeg at all");
    const run_result r = a.run();
    EXPECT_EQ(r.status, 1);
    // libjpeg's text does not say which file it means: the message does.
    EXPECT_EQ(r.err, "vistrel: " + a.image("fake.jpg") +
                         ": Not a JPEG file: starts with 0x47 0x49\n"
                         "use -k to leave unreadable photos out and make the rest\n");
    EXPECT_FALSE(file_exists(a.scaled("fake.jpg.tmp")));
    EXPECT_FALSE(file_exists(a.thumb("fake.jpg.tmp")));
    EXPECT_FALSE(file_exists(a.scaled("fake.jpg")));
}

TEST(pipeline, a_derived_size_libjpeg_cannot_write_is_refused_before_any_file)
{
    album a;
    a.add("strip.jpg", {.width = 4000, .height = 10});
    const run_result r = a.run({"-H", "200"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "   strip.jpg: no EXIF data found\nvistrel: can't scale '" + a.image("strip.jpg") +
                  "' to a height of 200 pixels: it would be 80000 pixels wide, and JPEG images "
                  "are at most 65500 pixels wide\n");
    EXPECT_FALSE(file_exists(a.scaled("strip.jpg.tmp")));
    EXPECT_FALSE(file_exists(a.thumb("strip.jpg.tmp")));

    const run_result tall = a.run({"-H", "70000"});
    EXPECT_EQ(tall.status, 1);
    EXPECT_EQ(tall.err,
              "   strip.jpg: no EXIF data found\nvistrel: can't scale '" + a.image("strip.jpg") +
                  "' to a height of 70000 pixels: JPEG images are at most 65500 pixels high\n");
    EXPECT_FALSE(file_exists(a.scaled("strip.jpg.tmp")));
}

// A cache directory the run may not write into: the temporary file that
// cannot be made is named, with the run's own tag, and the run ends.
TEST(pipeline, unwritable_temporary_file_is_reported)
{
    album a;
    a.add("x.jpg", {.width = 40, .height = 30});
    make_dir(a.dir + "/.scaled");  // the tests' user's own: closed to nobody
    open_to_everyone(a.gallery.path);
    open_to_everyone(a.dir);
    const run_result r = run_vistrel_as_nobody({a.gallery.path});
    EXPECT_EQ(r.status, 1);
    const std::regex said("   x\\.jpg: no EXIF data found\nvistrel: can't fopen\\(" +
                          std::regex_replace(a.scaled("x.jpg"), std::regex(R"([.()])"), "\\$&") +
                          R"(\.[0-9a-f]{8}\.tmp\): Permission denied\n)");
    EXPECT_TRUE(std::regex_match(r.err, said)) << r.err;
}

// A disk that fills up under the run, as a file size limit makes it: the
// write fails with a message naming the file, the temporary file goes, and
// what was under the final name stays as it was.
TEST(pipeline, a_failed_write_puts_nothing_in_place)
{
    album a;
    a.add("x.jpg", {.width = 1600, .height = 1200, .seed = 3});
    ASSERT_EQ(a.run().status, 0);
    const std::string before = read_file(a.scaled("x.jpg"));
    // 16 blocks of 512 bytes: the pages fit, the scaled image does not.
    const run_result r = run_command("/bin/sh",
                                     {"-c", "trap '' XFSZ; ulimit -f 16; exec \"$0\" -f \"$1\"",
                                      vistrel_binary(), a.gallery.path},
                                     60);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(a.scaled("x.jpg") + ": Output file write error --- out of disk space?\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(a.scaled("x.jpg")), before);
    EXPECT_FALSE(file_exists(a.scaled("x.jpg.tmp")));

    // A page cut short by the limit (a block; the images are fresh): reported,
    // and the page stays whole.
    const std::string page = read_file(a.dir + "/x.jpg.html");
    const run_result pages = run_command("/bin/sh",
                                         {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$1\"",
                                          vistrel_binary(), a.gallery.path},
                                         60);
    EXPECT_EQ(pages.status, 1);
    EXPECT_NE(pages.err.find("can't write(" + a.dir + "/x.jpg.html.tmp): File too large\n"),
              std::string::npos)
        << pages.err;
    EXPECT_EQ(read_file(a.dir + "/x.jpg.html"), page);
    EXPECT_FALSE(file_exists(a.dir + "/x.jpg.html.tmp"));
}

// A few hundred bytes claiming a 40000 x 40000 progressive image would need
// gigabytes of coefficients: the run ends instead of taking all memory.
TEST(pipeline, a_tiny_file_claiming_a_huge_progressive_image_is_refused)
{
    std::vector<uint8_t> bytes = make_jpeg({.width = 16, .height = 16, .progressive = true});
    size_t sof = 0;
    while (sof + 9 < bytes.size() && !(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC2)) ++sof;
    ASSERT_LT(sof + 9, bytes.size());
    for (size_t at : {sof + 5, sof + 7}) {  // height, then width, big-endian
        bytes[at] = 40000 >> 8;
        bytes[at + 1] = 40000 & 0xFF;
    }
    album a;
    write_file(a.image("bomb.jpg"), std::string(bytes.begin(), bytes.end()));
    const run_result r = a.run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "   bomb.jpg: no EXIF data found\nvistrel: " + a.image("bomb.jpg") +
                         ": Backing store not supported\n"
                         "use -k to leave unreadable photos out and make the rest\n");
    EXPECT_FALSE(file_exists(a.scaled("bomb.jpg")));
}

// The APPn markers of a JPEG file, in order, up to its first scan.
std::vector<int> app_markers(const std::string &jpeg)
{
    std::vector<int> found;
    size_t at = 2;  // past SOI
    while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
        const int code = static_cast<unsigned char>(jpeg[at + 1]);
        if (code == 0xDA) break;  // SOS
        if (code >= 0xE0 && code <= 0xEF) found.push_back(code);
        at += 2 + (static_cast<size_t>(static_cast<unsigned char>(jpeg[at + 2])) << 8 |
                   static_cast<unsigned char>(jpeg[at + 3]));
    }
    return found;
}

// Every derived image of a tagged photograph carries the very profile bytes
// and the unconverted pixels, however the source split its profile; a
// malformed profile is left out, and the image is derived as if untagged.
// Nothing else of the source comes along: no EXIF.
TEST(pipeline, icc_profiles_are_carried_into_every_derived_image)
{
    const std::vector<uint8_t> p3 = display_p3_profile();
    const std::vector<uint8_t> large =
        display_p3_profile(150000);  // three markers at most 65519 bytes
    ASSERT_GT(p3.size(), 400u);
    using fault = icc_recipe::fault;
    struct icc_case {
        const char *name;
        std::optional<icc_recipe> icc;
        bool carried;
    };
    const icc_case cases[] = {
        {"untagged.jpg", std::nullopt, false},
        {"one-marker.jpg", icc_recipe{.profile = p3}, true},
        {"five-markers.jpg", icc_recipe{.profile = p3, .chunk_size = p3.size() / 5 + 1}, true},
        {"large.jpg", icc_recipe{.profile = large}, true},
        {"chunk-missing.jpg",
         icc_recipe{.profile = p3, .chunk_size = 200, .damage = fault::chunk_missing}, false},
        {"counts-differ.jpg",
         icc_recipe{.profile = p3, .chunk_size = 200, .damage = fault::counts_differ}, false},
    };
    album a;
    for (const icc_case &c : cases)
        a.add(c.name, {.width = 400,
                       .height = 300,
                       .seed = 11,
                       .exif = exif_recipe{.model = "Camera X"},
                       .icc = c.icc});
    const run_result r = a.run({"-2", "-b"});
    ASSERT_EQ(r.status, 0) << r.err;
    // libjpeg's warning, once for each malformed profile, naming its file;
    // the lines come in listing order.
    for (const char *name : {"chunk-missing.jpg", "counts-differ.jpg"}) {
        const std::string line = "vistrel: " + a.image(name) +
                                 ": Corrupt JPEG data: bad ICC marker\n";
        EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    }
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;

    struct derived_kind {
        const char *dir;
        int width, height;
    };
    // A 400 x 300 source is decoded at full size for all of them; the
    // doubled scaled image and the big one are the photograph's size.
    const derived_kind kinds[] = {{".big", 400, 300},
                                  {".scaled2x", 400, 300},
                                  {".scaled", 640, 480},
                                  {".thumbs2x", 256, 192},
                                  {".thumbs", 128, 96}};
    for (const icc_case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> none;
        const std::vector<uint8_t> &profile = c.carried ? c.icc->profile : none;
        // The profile as libjpeg-turbo writes it: 65519 bytes at most per marker.
        std::vector<int> markers = {0xE0};
        markers.resize(1 + (profile.size() + 65518) / 65519, 0xE2);
        for (const derived_kind &kind : kinds) {
            SCOPED_TRACE(kind.dir);
            const std::string derived = read_file(a.dir + "/" + kind.dir + "/" + c.name);
            EXPECT_EQ(derived, expected_derived(a.image(c.name), 1, kind.width, kind.height,
                                                resize_area, profile));
            EXPECT_EQ(app_markers(derived), markers);
        }
    }
}

}  // namespace
