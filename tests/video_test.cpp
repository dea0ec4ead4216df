// Videos in albums with -V, through the built binary: posters derived as
// for a photograph (upright by the display matrix, past a black start),
// from H.264 MP4, HEVC QuickTime and VP9 WebM files; files that are no
// video left out with a message under -k; orphans of a removed video; the
// "codecs" parameter of the page's <source>; and nothing changed without -V.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "image/codecs/video_codec.h"
#include "support/gallery_snapshot.h"
#include "support/jpeg_fixture.h"
#include "support/quadrants.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"
#include "support/video_fixture.h"

namespace {

using codec = video_recipe::codec;

// With -H 72 -h 36, a 4:3 upright picture gives 96 x 72 and 48 x 36.
const std::vector<std::string> small = {"-V", "-H", "72", "-h", "36"};

std::vector<std::string> with(std::vector<std::string> words, const std::string &gallery)
{
    words.push_back(gallery);
    return words;
}

// Every quadrant's middle in the derived file has the quadrant's colour:
// a missed or wrong turn puts another there.
void expect_upright_quadrants(const std::string &path, int width, int height)
{
    const decoded_jpeg made = decode_jpeg(path);
    ASSERT_EQ(made.width, width) << path;
    ASSERT_EQ(made.height, height) << path;
    for (const int y : {height / 4, height * 3 / 4})
        for (const int x : {width / 4, width * 3 / 4}) {
            const rgb want = quadrant_colour(x, y, width, height);
            const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
            for (size_t c = 0; c < 3; ++c)
                EXPECT_NEAR(made.pixels[at + c], want[c], 24)
                    << path << " at " << x << "," << y << " sample " << c;
        }
}

struct poster_case {
    const char *name;
    video_recipe spec;
    int upright_width, upright_height;
};

// Each codec and container, and every quarter turn of a display matrix:
// the poster and its derived files are the upright picture.
TEST(video, posters_are_upright_in_every_codec_and_turn)
{
    const poster_case cases[] = {
        {"plain.mp4", {.width = 128, .height = 96, .quadrants = true}, 128, 96},
        {"portrait.mp4", {.width = 128, .height = 96, .turn = 90, .quadrants = true}, 96, 128},
        {"upside.MP4", {.width = 128, .height = 96, .turn = 180, .quadrants = true}, 128, 96},
        {"left.m4v", {.width = 128, .height = 96, .turn = 270, .quadrants = true}, 96, 128},
        {"clip.webm",
         {.format = codec::vp9_webm, .width = 128, .height = 96, .quadrants = true},
         128,
         96},
        {"phone.mov",
         {.format = codec::hevc_mov, .width = 128, .height = 96, .audio = true, .quadrants = true},
         128,
         96},
    };
    temp_dir g;
    make_dir(g.file("a"));
    for (const poster_case &c : cases) write_video(g.file("a/") + c.name, c.spec);
    const run_result r = run_vistrel(with(small, g.path));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("EXIF"), std::string::npos) << r.err;
    for (const poster_case &c : cases) {
        SCOPED_TRACE(c.name);
        const bool portrait = c.upright_height > c.upright_width;
        expect_upright_quadrants(g.file("a/.scaled/") + c.name + ".jpg", portrait ? 54 : 96, 72);
        expect_upright_quadrants(g.file("a/.thumbs/") + c.name + ".jpg", portrait ? 27 : 48, 36);
        EXPECT_TRUE(file_exists(g.file("a/") + c.name + ".html"));
    }
}

// A clip that starts black gets a poster from after the black; so does
// one whose first second is black and which is longer than ten seconds.
TEST(video, the_poster_skips_a_black_start)
{
    temp_dir g;
    make_dir(g.file("a"));
    write_video(g.file("a/short.mp4"), {.seconds = 2, .black_seconds = 1.5, .quadrants = true});
    write_video(g.file("a/long.mp4"), {.width = 64,
                                       .height = 48,
                                       .seconds = 9,
                                       .rate = 5,
                                       .black_seconds = 3,
                                       .quadrants = true});
    const run_result r = run_vistrel(with(small, g.path));
    ASSERT_EQ(r.status, 0) << r.err;
    expect_upright_quadrants(g.file("a/.scaled/short.mp4.jpg"), 96, 72);
    expect_upright_quadrants(g.file("a/.scaled/long.mp4.jpg"), 96, 72);
}

struct broken_case {
    const char *name;
    std::string bytes;
    const char *says;
};

// What is no video, or no whole one, is an error naming it; with -k it is
// left out as an unreadable photo, and the run goes on to the others.
TEST(video, files_that_are_no_video_are_errors_and_left_out_with_k)
{
    const std::string clip = video_bytes({.seconds = 3, .audio = true});
    // The moov box comes first (+faststart): cut inside the coded data, the
    // header reads and no frame decodes; cut inside moov, nothing reads.
    const broken_case cases[] = {
        {"audio.mp4", video_bytes({.format = codec::audio_only_mp4}), ": no video stream"},
        {"cut.mp4", clip.substr(0, 2000), ": not a video: its container can't be read"},
        {"empty.mp4", "", ": not a video: no MP4, QuickTime or Matroska header"},
        {"notes.MOV", "shopping list\n", ": not a video: no MP4, QuickTime or Matroska header"},
        {"fake.mkv", "\x1a\x45\xdf\xa3 and nothing more",
         ": not a video: its container can't be read"},
    };
    for (const broken_case &c : cases) {
        SCOPED_TRACE(c.name);
        temp_dir g;
        make_dir(g.file("a"));
        write_video(g.file("a/good.mp4"), {});
        write_jpeg(g.file("a/photo.jpg"), {.width = 64, .height = 48});
        write_file(g.file("a/") + c.name, c.bytes);
        const std::string path = g.file("a/") + c.name;

        const run_result stops = run_vistrel(with(small, g.path));
        EXPECT_NE(stops.status, 0);
        EXPECT_NE(stops.err.find(path + c.says), std::string::npos) << stops.err;

        const run_result kept = run_vistrel(with({"-V", "-k"}, g.path));
        EXPECT_EQ(kept.status, 1) << kept.err;
        EXPECT_NE(kept.err.find(path + c.says), std::string::npos) << kept.err;
        EXPECT_NE(kept.err.find("1 photo could not be read"), std::string::npos) << kept.err;
        EXPECT_FALSE(file_exists(path + ".html"));
        EXPECT_FALSE(file_exists(g.file("a/.thumbs/") + c.name + ".jpg"));
        EXPECT_TRUE(file_exists(g.file("a/good.mp4.html")));
        EXPECT_TRUE(file_exists(g.file("a/.scaled/good.mp4.jpg")));
        EXPECT_TRUE(file_exists(g.file("a/photo.jpg.html")));
    }
}

// A video cut inside its coded data: the header promises frames that are
// not there.
TEST(video, a_clip_cut_in_its_frames_has_no_poster)
{
    temp_dir g;
    make_dir(g.file("a"));
    const std::string clip = video_bytes({.width = 320, .height = 240, .seconds = 4});
    // Past the moov box, before the first key frame ends.
    const size_t moov_end = clip.find("mdat") + 4 + 64;
    write_file(g.file("a/cut.mp4"), clip.substr(0, moov_end));
    const run_result r = run_vistrel(with({"-V", "-k"}, g.path));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cut.mp4: no frame could be decoded"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(g.file("a/cut.mp4.html")));
}

// The MP4 file with its avc1 sample entry stating another size: the
// header is all the run trusts before it decodes.
std::string with_stated_size(std::string clip, int width, int height)
{
    // The ftyp box names avc1 as a brand first.
    const size_t entry = clip.find("avc1", clip.find("stsd"));
    EXPECT_NE(entry, std::string::npos);
    // After the type: 6 reserved bytes, the data reference index, 16 bytes
    // of reserved and predefined fields, then width and height.
    const size_t at = entry + 4 + 6 + 2 + 16;
    clip[at] = static_cast<char>(width >> 8);
    clip[at + 1] = static_cast<char>(width & 0xFF);
    clip[at + 2] = static_cast<char>(height >> 8);
    clip[at + 3] = static_cast<char>(height & 0xFF);
    return clip;
}

// A header that claims a size beyond the limits is refused before
// anything is decoded; one whose frames are of another size than it states
// is refused once the frame shows it.
TEST(video, a_stated_size_is_bounded_and_held_to)
{
    const std::string clip = video_bytes({.width = 160, .height = 120});
    const broken_case cases[] = {
        {"huge.mp4", with_stated_size(clip, 20000, 20000),
         ": too large to decode: 20000x20000 pixels"},
        {"liar.mp4", with_stated_size(clip, 400, 300),
         ": decodes to 160x120 pixels, not the 400x300 its header states"},
    };
    for (const broken_case &c : cases) {
        SCOPED_TRACE(c.name);
        temp_dir g;
        make_dir(g.file("a"));
        write_file(g.file("a/") + c.name, c.bytes);
        const run_result r = run_vistrel(with({"-V", "-k"}, g.path));
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(g.file("a/") + c.name + c.says), std::string::npos) << r.err;
        EXPECT_FALSE(file_exists(g.file("a/.thumbs/") + c.name + ".jpg"));
    }
}

// A video that leaves the album takes its derived files and page with it;
// so do all videos when a run goes without -V.
TEST(video, orphans_of_a_removed_video_and_of_a_run_without_V)
{
    temp_dir g;
    make_dir(g.file("a"));
    write_video(g.file("a/one.mp4"), {});
    write_video(g.file("a/two.webm"), {.format = codec::vp9_webm});
    write_jpeg(g.file("a/photo.jpg"), {.width = 64, .height = 48});
    ASSERT_EQ(run_vistrel(with({"-V", "-2"}, g.path)).status, 0);
    for (const char *dir : {".thumbs", ".scaled", ".thumbs2x", ".scaled2x"})
        ASSERT_TRUE(file_exists(g.file("a/") + dir + "/one.mp4.jpg")) << dir;

    ASSERT_EQ(unlink(g.file("a/one.mp4").c_str()), 0);
    run_result r = run_vistrel(with({"-V", "-2"}, g.path));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *dir : {".thumbs", ".scaled", ".thumbs2x", ".scaled2x"}) {
        EXPECT_FALSE(file_exists(g.file("a/") + dir + "/one.mp4.jpg")) << dir;
        EXPECT_TRUE(file_exists(g.file("a/") + dir + "/two.webm.jpg")) << dir;
    }
    EXPECT_FALSE(file_exists(g.file("a/one.mp4.html")));
    EXPECT_TRUE(file_exists(g.file("a/two.webm.html")));

    r = run_vistrel({"-2", g.path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(file_exists(g.file("a/.thumbs/two.webm.jpg")));
    EXPECT_FALSE(file_exists(g.file("a/two.webm.html")));
    EXPECT_TRUE(file_exists(g.file("a/two.webm")));
    EXPECT_TRUE(file_exists(g.file("a/photo.jpg.html")));
}

// A video's name too long for ".jpg" and ".html" to be added: its
// derived files and page get shortened names, and go with it.
TEST(video, shortened_names_of_a_removed_video_go_with_it)
{
    temp_dir g;
    make_dir(g.file("a"));
    const std::string name = std::string(250, 'v') + ".mp4";
    write_video(g.file("a/") + name, {});
    ASSERT_EQ(run_vistrel(with({"-V"}, g.path)).status, 0);
    const std::vector<std::string> made = list_names(g.file("a"), {.recursive = true});
    size_t shortened = 0;
    for (const std::string &entry : made)
        if (entry.find('~') != std::string::npos) ++shortened;
    EXPECT_EQ(shortened, 3u);  // the page, the thumbnail and the scaled image

    ASSERT_EQ(unlink((g.file("a/") + name).c_str()), 0);
    const run_result r = run_vistrel(with({"-V"}, g.path));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string &entry : list_names(g.file("a"), {.recursive = true}))
        EXPECT_EQ(entry.find('~'), std::string::npos) << entry;
}

// Without -V a gallery with videos is the gallery without them, byte for
// byte, but for the videos themselves; a line tells the album has some.
TEST(video, without_V_videos_change_nothing)
{
    temp_dir with_videos, without;
    for (const temp_dir *g : {&with_videos, &without}) {
        make_dir(g->file("a"));
        write_jpeg(g->file("a/p.jpg"), {.width = 64, .height = 48});
    }
    write_video(with_videos.file("a/clip.mp4"), {});
    write_file(with_videos.file("a/notes.mov"), "not a video");
    const run_result r = run_vistrel({with_videos.path});
    ASSERT_EQ(r.status, 0) << r.err;
    // Said once for the album, counting every name of a video.
    const std::string hint = "   " + with_videos.file("a") + ": not included: 2 videos (give -V)\n";
    EXPECT_NE(r.err.find(hint), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("not included", r.err.find(hint) + hint.size()), std::string::npos)
        << r.err;
    const run_result plain = run_vistrel({without.path});
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err.find("not included"), std::string::npos) << plain.err;
    std::map<std::string, std::string> made = snapshot(with_videos.path);
    made.erase("a/clip.mp4");
    made.erase("a/notes.mov");
    EXPECT_TRUE(made == snapshot(without.path));
}

// -s taken orders videos by their container's creation time, among the
// photographs by their EXIF date.
TEST(video, taken_order_uses_the_creation_time)
{
    temp_dir g;
    make_dir(g.file("a"));
    write_video(g.file("a/a_late.mp4"), {.created = "2024-06-01T10:00:00Z"});
    write_video(g.file("a/b_early.mp4"), {.created = "2023-01-01T10:00:00Z"});
    write_jpeg(g.file("a/c_middle.jpg"),
               {.width = 64, .height = 48, .exif = exif_recipe{.taken = "2024:01:01 10:00:00"}});
    ASSERT_EQ(run_vistrel(with({"-V", "-s", "taken"}, g.path)).status, 0);
    const std::string index = read_file(g.file("a/index.html"));
    const size_t early = index.find("b_early.mp4"), middle = index.find("c_middle.jpg"),
                 late = index.find("a_late.mp4");
    ASSERT_NE(late, std::string::npos);
    EXPECT_LT(early, middle);
    EXPECT_LT(middle, late);
}

// The video's page plays the original (its name in the link as a
// photo's) with the poster before it, sized like a photo, the type attribute
// naming its codecs; the facts stand where EXIF data would; the index
// page's thumbnail carries the play mark and the duration.
TEST(video, pages_play_the_original_with_its_facts)
{
    temp_dir g;
    make_dir(g.file("a"));
    write_video(g.file("a/at the beach.mp4"),
                {.width = 128, .height = 96, .seconds = 12, .rate = 5, .audio = true});
    write_video(g.file("a/b.webm"), {.format = codec::vp9_webm, .seconds = 2, .audio = true});
    write_jpeg(g.file("a/c.jpg"), {.width = 64, .height = 48});
    // ffmpeg's fastest H.264 is of Constrained Baseline profile (42c0..).
    ASSERT_EQ(run_vistrel(with({"-V", "-a"}, g.path)).status, 0);

    const std::string page = read_file(g.file("a/at the beach.mp4.html"));
    EXPECT_NE(page.find("<video controls preload=\"metadata\" playsinline "
                        "poster=\".scaled/at the beach.mp4.jpg\" width=\"640\" "
                        "height=\"480\" style=\"--w: 640; --h: 480\">"
                        "<source src=\"at the beach.mp4\" type=\"video/mp4; "
                        "codecs=&quot;avc1.42c0"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find(", mp4a.40.2&quot;\"><a href=\"at the beach.mp4\">"), std::string::npos)
        << page;
    EXPECT_NE(page.find("<a href=\"at the beach.mp4\" download>"), std::string::npos);
    for (const char *fact : {"<td><small>Duration:</small></td><td><small>0:12</small></td>",
                             "<td><small>Size:</small></td><td><small>128 x 96 pixels</small></td>",
                             "<small>5 frames a second</small>", "<small>H.264</small>"})
        EXPECT_NE(page.find(fact), std::string::npos) << fact;
    EXPECT_EQ(page.find("<img src=\".scaled"), std::string::npos);
    // A key inside the playing video is the video's.
    EXPECT_NE(page.find("e.target.closest('video')"), std::string::npos);

    const std::string webm = read_file(g.file("a/b.webm.html"));
    EXPECT_NE(webm.find(
                  "<source src=\"b.webm\" type=\"video/webm; codecs=&quot;vp9, opus&quot;\">"),
              std::string::npos)
        << webm;

    const std::string index = read_file(g.file("a/index.html"));
    EXPECT_NE(index.find("<a href=\"at the beach.mp4.html\" class=\"video\" "
                         "data-duration=\"0:12\"><img src=\".thumbs/at the beach.mp4.jpg\""),
              std::string::npos)
        << index;
    EXPECT_NE(index.find("a.video::after{content:attr(data-duration)"), std::string::npos);
    // The photo's page is a photo's.
    const std::string photo = read_file(g.file("a/c.jpg.html"));
    EXPECT_EQ(photo.find("<style>"), std::string::npos);
    EXPECT_EQ(photo.find("closest('video')"), std::string::npos);
}

// -E leaves the facts out as it does EXIF data; -e puts them in a comment.
TEST(video, facts_follow_the_exif_options)
{
    temp_dir g;
    make_dir(g.file("a"));
    write_video(g.file("a/v.mp4"), {});
    ASSERT_EQ(run_vistrel(with({"-V", "-e"}, g.path)).status, 0);
    std::string page = read_file(g.file("a/v.mp4.html"));
    EXPECT_NE(page.find("<!-- Begin video data\nDuration: 0:02\n"), std::string::npos) << page;
    ASSERT_EQ(run_vistrel(with({"-V", "-E"}, g.path)).status, 0);
    page = read_file(g.file("a/v.mp4.html"));
    EXPECT_EQ(page.find("Duration"), std::string::npos) << page;
}

struct codecs_case {
    const char *codec;
    std::vector<uint8_t> record;
    bool webm;
    const char *parameter;
};

// The "codecs" parameter from each configuration record, as RFC 6381 and
// the codecs' own ISO and WebM mappings spell it.
TEST(video, codecs_parameter_from_configuration_records)
{
    const codecs_case cases[] = {
        // avcC of High profile, level 3.1.
        {"h264", {1, 0x64, 0x00, 0x1F, 0xFF}, false, "avc1.64001f"},
        // avcC of Constrained Baseline, level 3.0.
        {"h264", {1, 0x42, 0xC0, 0x1E, 0xFF}, false, "avc1.42c01e"},
        {"h264", {}, false, ""},  // Annex B, no record: not told exactly
        // hvcC: Main profile, compatible with Main and Main 10, main tier,
        // level 3.1 (93), a progressive-source constraint byte.
        {"hevc", {1, 0x01, 0x60, 0, 0, 0, 0xB0, 0, 0, 0, 0, 0, 93}, false, "hvc1.1.6.L93.b0"},
        // av1C: Main profile, level 4.0 (8), main tier, 8 bits.
        {"av1", {0x81, 0x08, 0x0C, 0}, false, "av01.0.08M.08"},
        // av1C: High tier, 10 bits.
        {"av1", {0x81, 0x0D, 0xC0, 0}, true, "av01.0.13H.10"},
        // vpcC: profile 0, level 3.1 (31), 8 bits.
        {"vp9", {1, 0, 0, 0, 0, 31, 0x80, 0}, false, "vp09.00.31.08"},
        {"vp9", {}, true, "vp9"},
        {"vp9", {}, false, ""},
        {"mpeg4", {}, false, ""},
    };
    for (const codecs_case &c : cases)
        EXPECT_EQ(codecs_parameter(c.codec, 0, c.record.empty() ? nullptr : c.record.data(),
                                   c.record.size(), c.webm),
                  c.parameter)
            << c.codec;
}

}  // namespace
