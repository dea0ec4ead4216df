#include "album/description.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "album/messages.h"
#include "base/files.h"
#include "base/report.h"

namespace {

std::string copy_text(const char *text, size_t length) { return std::string(text, length); }

// The lines of a file as fgets gives them, from no further than its first
// `bound` bytes: a sparse file of terabytes costs what the bound costs.
class bounded_lines {
public:
    bounded_lines(int fd, uint64_t bound) : fd_(fd), left_(bound) {}

    // Up to size - 1 bytes, through the first newline, then a NUL; false at
    // the end, at the bound or on a read error.
    bool next(char *line, size_t size)
    {
        size_t length = 0;
        while (length + 1 < size) {
            if (at_ == end_ && !fill()) break;
            const char c = buffer_[at_++];
            line[length++] = c;
            if (c == '\n') break;
        }
        if (length == 0) return false;
        line[length] = '\0';
        return true;
    }

private:
    bool fill()
    {
        if (left_ == 0) return false;
        ssize_t got;
        do {
            got =
                read(fd_, buffer_, static_cast<size_t>(std::min<uint64_t>(sizeof buffer_, left_)));
        } while (got < 0 && errno == EINTR);
        if (got <= 0) return false;
        left_ -= static_cast<uint64_t>(got);
        at_ = 0;
        end_ = static_cast<size_t>(got);
        return true;
    }

    int fd_;
    uint64_t left_;
    char buffer_[64 * 1024];
    size_t at_ = 0;
    size_t end_ = 0;
};

}  // namespace

album_description read_description(int album_fd, const std::string &album_path,
                                   const image_names &names)
{
    album_description description;

    // Optional: an album without a readable description simply has no title
    // and no captions. Only a regular file is read: a FIFO would block the
    // run, a device could feed it for ever, and a link may lead anywhere.
    // What cannot even be opened is still named when it is no regular file
    // (a terminal, say, without one to open).
    const int fd = openat(album_fd, ".description", O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (fd < 0) {
        if (errno != ENOENT &&
            fstatat(album_fd, ".description", &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISREG(status.st_mode))
            note::not_a_regular_file(join_path(album_path, ".description"));
        return description;
    }
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        note::not_a_regular_file(join_path(album_path, ".description"));
        return description;
    }
    const unique_fd file(fd);
    if (static_cast<uint64_t>(status.st_size) > largest_description)
        note::description_cut(join_path(album_path, ".description"),
                              largest_description / (1024 * 1024));
    const auto lines = std::make_unique<bounded_lines>(file.fd, largest_description);

    // The names that have their caption already: views of those in names.
    image_names captioned;

    // A line longer than the buffer arrives in pieces, and each piece is
    // parsed as a line of its own.
    char line[1024];
    while (lines->next(line, sizeof line)) {
        char *separator = std::strpbrk(line, " \t");
        if (!separator) continue;
        *separator = '\0';
        const std::string_view word(line, static_cast<size_t>(separator - line));
        const bool is_title = word == ".";
        const auto listed = is_title ? names.end() : names.find(word);
        if (!is_title && (listed == names.end() || captioned.contains(*listed))) continue;

        char *rest = separator + 1;
        size_t length = std::strlen(rest);
        if (length > 0 && rest[length - 1] == '\n') rest[--length] = '\0';
        while (std::isspace(static_cast<unsigned char>(*rest))) {
            ++rest;
            --length;
        }

        std::string text = copy_text(rest, length);
        if (is_title) {
            description.title = std::move(text);  // a later title line wins
            continue;
        }
        description_entry entry{copy_text(word.data(), word.size()), std::move(text)};
        captioned.insert(*listed);
        description.entries.push_back(std::move(entry));
    }
    // A read error ends the file like its end does.
    return description;
}

caption_index index_captions(const std::vector<description_entry> &entries)
{
    caption_index captions;
    captions.reserve(entries.size());
    for (const description_entry &entry : entries) captions.try_emplace(entry.file, &entry.caption);
    return captions;
}

const std::string &lookup_caption(const caption_index &captions, const std::string &name)
{
    const auto found = captions.find(name);
    return found == captions.end() ? name : *found->second;
}
