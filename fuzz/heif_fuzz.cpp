// HEIF and AVIF files on arbitrary bytes, through the program's own
// derive_image as -i runs it: the file opened through its album, libheif
// reading the boxes through the held descriptor, the Exif item, the sizes,
// the decode and the encode of the derived images. A failure comes back as
// a value, as it does to the program.
//
// The decode is bounded: a file whose header claims more pixels than the
// search should spend time on is read no further than its header.
//
// The last input byte chooses the derived heights, the resampler and -2 -b;
// libheif ignores bytes past the boxes it reads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/files.h"
#include "fuzz_album.h"
#include "image/codecs/photo_reader.h"

namespace {

constexpr uint64_t largest_pixel_count = uint64_t{1} << 22;

// Whether the header, if libheif reads one, claims a size worth decoding.
bool small_enough()
{
    const std::string path = fuzz_photo_path();
    const unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) std::abort();
    const result<unique_reader> reader = open_heif_reader(fd.fd, path, 0);
    if (!reader.ok()) return true;  // derive_image fails on it the same way, quickly
    return uint64_t((*reader)->stored_width()) * uint64_t((*reader)->stored_height()) <=
           largest_pixel_count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    make_fuzz_album("heif_fuzz", "fuzz.heic", "fuzz.heic.jpg");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    const uint8_t choice = data[size - 1];
    settings_record config = fuzz_settings(choice);
    config.heif_photos = true;
    write_fuzz_photo(data, size);
    if (!small_enough()) return 0;
    derive_fuzz_photo(config);
    return 0;
}
