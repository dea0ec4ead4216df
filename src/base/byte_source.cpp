#include "base/byte_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

int64_t byte_source::read_some(int64_t offset, std::span<uint8_t> to)
{
    if (offset < 0) return -1;
    const int64_t left = size - offset;
    size_t wanted = left <= 0 ? 0
                              : static_cast<size_t>(std::min<int64_t>(left, int64_t(to.size())));
    uint8_t *next = to.data();
    int64_t done = 0;
    while (wanted > 0) {
        const ssize_t got = pread(fd, next, wanted, offset + done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = errno;
            return -1;
        }
        if (got == 0) break;  // shrunk since it was measured
        next += got;
        done += got;
        wanted -= static_cast<size_t>(got);
    }
    return done;
}

bool byte_source::read_exactly(int64_t offset, std::span<uint8_t> to)
{
    return read_some(offset, to) == static_cast<int64_t>(to.size());
}

std::optional<byte_source> byte_source_of(int fd)
{
    struct stat status;
    if (fstat(fd, &status) != 0) return std::nullopt;
    return byte_source{fd, status.st_size, 0};
}
