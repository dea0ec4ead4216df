// Videos on arbitrary bytes, through the program's own derive_image as -V
// runs it: the container opened through its album by FFmpeg's demuxers
// reading through the held descriptor, the display matrix, the facts, the
// poster's decode and conversion, and the encode of the derived images. A
// failure comes back as a value, as it does to the program.
//
// The decode is bounded: a file whose header claims more pixels than the
// search should spend time on is read no further than its header.
//
// The last input byte chooses the derived heights, the resampler and -2 -b;
// the demuxers read no further than the boxes and clusters they need.
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

constexpr uint64_t largest_pixel_count = uint64_t{1} << 18;

// Whether the header, if the demuxer reads one, claims a size worth decoding.
bool small_enough()
{
    const std::string path = fuzz_photo_path();
    const unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) std::abort();
    const result<unique_reader> reader = open_video_reader(fd.fd, path, 0);
    if (!reader.ok()) return true;  // derive_image fails on it the same way, quickly
    return uint64_t((*reader)->stored_width()) * uint64_t((*reader)->stored_height()) <=
           largest_pixel_count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    make_fuzz_album("video_fuzz", "fuzz.mp4", "fuzz.mp4.jpg");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    const uint8_t choice = data[size - 1];
    settings_record config = fuzz_settings(choice);
    config.videos = true;
    write_fuzz_photo(data, size);
    if (!small_enough()) return 0;
    derive_fuzz_photo(config);
    return 0;
}
