// A regular file read by position through a descriptor held open. The
// descriptor's own offset never moves, so one open file serves several
// readers (a codec, the EXIF reader, a box reader) without their getting in
// each other's way; and nothing past the size the file had when the source
// was made is read, so a file that grows while it is read costs no more
// than it did.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

struct byte_source {
    int fd = -1;       // the caller's, open as long as the source is used
    int64_t size = 0;  // the file's size when the source was made
    int error = 0;     // errno of a read that failed, for the message

    // Up to to.size() bytes from offset, fewer only at the end (size): how
    // many were read, or -1 when a read failed.
    int64_t read_some(int64_t offset, std::span<uint8_t> to);
    // Exactly to.size() bytes at offset; false when a read failed or the
    // bytes run past the end (the file shrank, or never held them).
    bool read_exactly(int64_t offset, std::span<uint8_t> to);
};

// The source of an open regular file, its size as fstat gives it; none when
// fstat fails (errno set).
std::optional<byte_source> byte_source_of(int fd);
