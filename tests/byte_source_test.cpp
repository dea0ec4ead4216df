// Reading a file by position, never past the size it had when the source
// was made: a photograph that grows while it is read costs no more.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_source.h"
#include "base/files.h"
#include "support/temp_dir.h"

namespace {

void append(const std::string &path, const std::string &bytes)
{
    const unique_fd fd(open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    ASSERT_EQ(write(fd.fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

}  // namespace

TEST(byte_source, reads_what_the_file_held_when_it_was_opened)
{
    const temp_dir dir;
    const std::string path = dir.file("grows.jpg");
    write_file(path, "0123456789");
    const unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::optional<byte_source> bytes = byte_source_of(fd.fd);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size, 10);
    append(path, "grown while it was read");

    std::vector<uint8_t> buffer(64);
    const struct {
        int64_t offset;
        size_t wanted;
        int64_t got;
    } cases[] = {
        {0, 64, 10},  // the growth is not read
        {4, 3, 3},    // a piece inside
        {8, 64, 2},   // up to the end it had
        {10, 64, 0},  // at the end
        {99, 64, 0},  // past it
        {-1, 4, -1},  // no such place
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offset));
        EXPECT_EQ(bytes->read_some(c.offset, {buffer.data(), c.wanted}), c.got);
    }
    ASSERT_TRUE(bytes->read_exactly(4, {buffer.data(), 3}));
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 3), "456");
    EXPECT_TRUE(bytes->read_exactly(0, {buffer.data(), 10}));
    EXPECT_FALSE(bytes->read_exactly(5, {buffer.data(), 6}));
    // Its offset never moved: a reader of the descriptor itself starts at 0.
    EXPECT_EQ(lseek(fd.fd, 0, SEEK_CUR), 0);
}
