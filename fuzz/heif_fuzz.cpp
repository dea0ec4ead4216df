// HEIF and AVIF files on arbitrary bytes, through the program's own
// derive_image as -i runs it: the file opened through its album, libheif
// reading the boxes through the held descriptor, the Exif item, the sizes,
// the decode and the encode of the derived images. A failure comes back as
// a value, as it does to the program.
//
// The decode is bounded: a file whose header claims more pixels than the
// search should spend time on is read no further than its header.
//
// The last input byte chooses the derived heights, the resampler and -2;
// libheif ignores bytes past the boxes it reads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "album/cache_dirs.h"
#include "base/derived_images.h"
#include "image/photo_reader.h"
#include "image/pipeline.h"

namespace {

std::string work_dir;  // private to this process; holds the derived files

constexpr uint64_t largest_pixel_count = uint64_t{1} << 22;

constexpr int32_t heights[8] = {480, 96, 1, 2, 3, 17, 48, 1000};

const std::string name = "fuzz.heic";

void write_input(const uint8_t *data, size_t size)
{
    const std::string path = work_dir + "/a/" + name;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();
}

// Whether the header, if libheif reads one, claims a size worth decoding.
bool small_enough()
{
    const std::string path = work_dir + "/a/" + name;
    const unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) std::abort();
    const result<unique_reader> reader = open_heif_reader(fd.fd, path, 0);
    if (!reader.ok()) return true;  // derive_image fails on it the same way, quickly
    return uint64_t((*reader)->stored_width()) * uint64_t((*reader)->stored_height()) <=
           largest_pixel_count;
}

void remove_work_dir()
{
    for (const derived_image &kind : derived_images) {
        const std::string dir = work_dir + "/a/" + kind.dir;
        for (const char *file : {"/fuzz.heic.jpg", "/fuzz.heic.jpg.tmp"})
            unlink((dir + file).c_str());
        rmdir(dir.c_str());
    }
    unlink((work_dir + "/a/" + name).c_str());
    rmdir((work_dir + "/a").c_str());
    rmdir(work_dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vistrel-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("heif_fuzz: mkdtemp");
        std::exit(1);
    }
    work_dir = pattern;
    if (mkdir((work_dir + "/a").c_str(), 0700) != 0) std::abort();
    std::atexit(remove_work_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    const uint8_t choice = data[size - 1];
    settings_record config;
    config.scaled_height = heights[choice & 7];
    config.thumb_height = heights[(choice >> 3) & 7];
    config.bilinear = choice & 0x40;
    config.double_density = choice & 0x80;
    config.heif_photos = true;
    config.force = true;
    write_input(data, size);
    if (!small_enough()) return 0;

    album_dirs dirs;
    dirs.album = open_dir{unique_fd(open_named_dir(work_dir + "/a")), work_dir + "/a"};
    if (!dirs.album.fd || !open_cache_dirs(dirs, config).ok()) std::abort();
    image_info image;
    image.name = name;
    image.derived = name + ".jpg";
    result<derived_files> derived = derive_image(dirs, image, config);
    if (derived.ok()) (void)place_derived(dirs, image, *derived, config);
    return 0;
}
