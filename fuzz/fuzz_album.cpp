#include "fuzz_album.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "album/cache_dirs.h"
#include "base/derived_images.h"
#include "image/derive_image.h"

namespace {

constexpr int32_t heights[8] = {480, 96, 1, 2, 3, 17, 48, 1000};

std::string work_dir;  // private to this process; holds the derived files
std::string photo_name;
std::string derived_name;

void remove_work_dir()
{
    for (const derived_image &kind : derived_images) {
        const std::string dir = work_dir + "/a/" + kind.dir;
        for (const std::string &file : {derived_name, derived_name + ".tmp"})
            unlink((dir + "/" + file).c_str());
        rmdir(dir.c_str());
    }
    unlink(fuzz_photo_path().c_str());
    rmdir((work_dir + "/a").c_str());
    rmdir(work_dir.c_str());
}

}  // namespace

void make_fuzz_album(const char *target, const std::string &photo, const std::string &derived)
{
    photo_name = photo;
    derived_name = derived;
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vistrel-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror((std::string(target) + ": mkdtemp").c_str());
        std::exit(1);
    }
    work_dir = pattern;
    if (mkdir((work_dir + "/a").c_str(), 0700) != 0) std::abort();
    std::atexit(remove_work_dir);
}

std::string fuzz_photo_path() { return work_dir + "/a/" + photo_name; }

void write_fuzz_photo(const uint8_t *data, size_t size)
{
    std::FILE *file = std::fopen(fuzz_photo_path().c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();
}

settings_record fuzz_settings(uint8_t choice)
{
    settings_record config;
    config.scaled_height = heights[choice & 7];
    config.thumb_height = heights[(choice >> 3) & 7];
    config.bilinear = choice & 0x40;
    config.double_density = choice & 0x80;
    config.big_screens = choice & 0x80;
    config.force = true;
    return config;
}

void derive_fuzz_photo(const settings_record &config)
{
    album_dirs dirs;
    dirs.album = open_dir{unique_fd(open_named_dir(work_dir + "/a")), work_dir + "/a"};
    if (!dirs.album.fd || !open_cache_dirs(dirs, config).ok()) std::abort();
    image_info image;
    image.name = photo_name;
    image.derived = derived_name;
    result<derived_files> derived = derive_image(dirs, image, config);
    if (derived.ok()) (void)place_derived(dirs, image, *derived, config);
}
