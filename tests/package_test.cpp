// The Debian package, end to end: built by CPack from this build, its
// contents and fields, then unpacked into a temporary root and run from
// there on a small gallery.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/jpeg_fixture.h"
#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// vistrel_<version>_<architecture>.deb in the build directory.
std::string find_package()
{
    const std::string prefix = std::string("vistrel_") + VISTREL_VERSION + "_";
    for (const auto &entry : fs::directory_iterator(VISTREL_BUILD_DIR)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix) && name.ends_with(".deb")) return entry.path().string();
    }
    return "";
}

TEST(package, builds_installs_from_its_root_and_runs)
{
    const std::string dpkg_deb = VISTREL_DPKG_DEB;
    if (dpkg_deb.empty()) GTEST_SKIP() << "dpkg-deb is not installed";
    const run_result built =
        run_command(VISTREL_CMAKE, {"--build", VISTREL_BUILD_DIR, "--target", "package"}, 280);
    ASSERT_EQ(built.status, 0) << built.out << built.err;
    const std::string deb = find_package();
    ASSERT_FALSE(deb.empty());

    const run_result listed = run_command(dpkg_deb, {"--contents", deb}, 60);
    ASSERT_EQ(listed.status, 0) << listed.err;
    for (const char *path : {" ./usr/bin/vistrel\n", " ./usr/share/man/man1/vistrel.1\n",
                             " ./usr/share/vistrel/vistrel.css\n"})
        EXPECT_NE(listed.out.find(path), std::string::npos) << path << listed.out;

    const run_result fields = run_command(dpkg_deb, {"--field", deb, "Package", "Version"}, 60);
    EXPECT_EQ(fields.out, std::string("Package: vistrel\nVersion: ") + VISTREL_VERSION + "\n");
    const run_result depends = run_command(dpkg_deb, {"--field", deb, "Depends"}, 60);
    for (const char *library : {"libjpeg", "libexif", "libheif", "liblcms2"})
        EXPECT_NE(depends.out.find(library), std::string::npos) << library << depends.out;

    temp_dir root;
    const run_result unpacked = run_command(dpkg_deb, {"--extract", deb, root.path}, 60);
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    const std::string binary = root.file("usr/bin/vistrel");
    const run_result version = run_command(binary, {"--version"}, 60);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("vistrel ") + VISTREL_VERSION + "\n");

    temp_dir gallery;
    make_dir(gallery.file("album"));
    write_jpeg(gallery.file("album/a.jpg"), {.width = 200, .height = 150, .seed = 1});
    write_jpeg(gallery.file("album/b.jpg"), {.width = 150, .height = 200, .seed = 2});
    const run_result ran = run_command(binary, {"-q", gallery.path}, 60);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.out.find("1 album, 2 photos: 2 made, 0 fresh, 0 deleted"), std::string::npos)
        << ran.out;
    EXPECT_EQ(decode_jpeg(gallery.file("album/.scaled/a.jpg")).height, 480);
    EXPECT_TRUE(file_exists(gallery.file("album/b.jpg.html")));
    EXPECT_EQ(read_file(gallery.file("vistrel.css")),
              read_file(root.file("usr/share/vistrel/vistrel.css")));
}

}  // namespace
