// The Debian package, end to end: built by CPack from this build, its
// contents and fields, then unpacked into a temporary root and run from
// there on a small gallery; and held by lintian to Debian's policy.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

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

// Builds the package of this build; the cases of this file run side by
// side, and take turns at it.
void build_package()
{
    const std::string lock_path = std::string(VISTREL_BUILD_DIR) + "/package_test.lock";
    const int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0) << lock_path;
    flock(lock, LOCK_EX);
    const run_result built =
        run_command(VISTREL_CMAKE, {"--build", VISTREL_BUILD_DIR, "--target", "package"}, 280);
    close(lock);
    ASSERT_EQ(built.status, 0) << built.out << built.err;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string gunzip(const std::string &path)
{
    const run_result unzipped = run_command("/bin/sh", {"-c", "exec gzip -dc \"$0\"", path}, 60);
    EXPECT_EQ(unzipped.status, 0) << path << unzipped.err;
    return unzipped.out;
}

TEST(package, builds_installs_from_its_root_and_runs)
{
    const std::string dpkg_deb = VISTREL_DPKG_DEB;
    if (dpkg_deb.empty()) GTEST_SKIP() << "dpkg-deb is not installed";
    ASSERT_NO_FATAL_FAILURE(build_package());
    const std::string deb = find_package();
    ASSERT_FALSE(deb.empty());

    const run_result listed = run_command(dpkg_deb, {"--contents", deb}, 60);
    ASSERT_EQ(listed.status, 0) << listed.err;
    for (const char *path :
         {" ./usr/bin/vistrel\n", " ./usr/share/man/man1/vistrel.1.gz\n",
          " ./usr/share/vistrel/vistrel.css\n", " ./usr/share/doc/vistrel/copyright\n",
          " ./usr/share/doc/vistrel/changelog.gz\n"})
        EXPECT_NE(listed.out.find(path), std::string::npos) << path << listed.out;

    const run_result fields = run_command(dpkg_deb, {"--field", deb, "Package", "Version"}, 60);
    EXPECT_EQ(fields.out, std::string("Package: vistrel\nVersion: ") + VISTREL_VERSION + "\n");
    const run_result depends = run_command(dpkg_deb, {"--field", deb, "Depends"}, 60);
    for (const char *library : {"libjpeg", "libexif", "libheif", "liblcms2"})
        EXPECT_NE(depends.out.find(library), std::string::npos) << library << depends.out;
    // A maintainer reached by mail, and a description that fits a terminal.
    const run_result maintainer = run_command(dpkg_deb, {"--field", deb, "Maintainer"}, 60);
    EXPECT_TRUE(maintainer.out.find('@') != std::string::npos && maintainer.out.ends_with(">\n"))
        << maintainer.out;
    const run_result description = run_command(dpkg_deb, {"--field", deb, "Description"}, 60);
    EXPECT_GT(lines_of(description.out).size(), 3u) << description.out;
    for (const std::string &line : lines_of(description.out)) EXPECT_LE(line.size(), 80u) << line;

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

    // The documents: the manual page as written, the changelog's latest
    // entry the package's version, the licence of LICENSE in the
    // machine-readable copyright file.
    const std::string source = VISTREL_SOURCE_DIR;
    EXPECT_EQ(gunzip(root.file("usr/share/man/man1/vistrel.1.gz")),
              read_file(source + "/doc/vistrel.1"));
    EXPECT_TRUE(gunzip(root.file("usr/share/doc/vistrel/changelog.gz"))
                    .starts_with(std::string("vistrel (") + VISTREL_VERSION + ") "));
    const std::string copyright = read_file(root.file("usr/share/doc/vistrel/copyright"));
    EXPECT_TRUE(copyright.starts_with(
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"))
        << copyright;
    EXPECT_NE(copyright.find("\nLicense: Expat\n"), std::string::npos) << copyright;
    for (const std::string &line : lines_of(read_file(source + "/LICENSE")))
        EXPECT_NE(copyright.find("\n " + (line.empty() ? "." : line) + "\n"), std::string::npos)
            << "not in the copyright file: " << line;
}

// lintian, with its informational tags, finds no error, no warning and no
// missing hardening.
TEST(package, lintian_finds_nothing_wrong)
{
    const std::string lintian = VISTREL_LINTIAN;
    if (std::string(VISTREL_DPKG_DEB).empty() || lintian.empty())
        GTEST_SKIP() << "dpkg-deb or lintian is not installed";
    ASSERT_NO_FATAL_FAILURE(build_package());
    const std::string deb = find_package();
    ASSERT_FALSE(deb.empty());
    const run_result checked =
        run_command(lintian, {"--display-info", "--tag-display-limit", "0", deb}, 240);
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
    for (const std::string &line : lines_of(checked.out)) {
        EXPECT_FALSE(line.starts_with("E: ") || line.starts_with("W: ")) << line;
        EXPECT_EQ(line.find("hardening-no-"), std::string::npos) << line;
    }
}

}  // namespace
