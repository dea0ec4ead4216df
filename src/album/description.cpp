#include "album/description.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/files.h"
#include "base/report.h"

namespace {

std::string copy_text(const char *text, size_t length) { return std::string(text, length); }

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
    unique_file file(fdopen(fd, "r"));
    if (!file) {
        close(fd);
        return description;
    }

    // The names that have their caption already: views of those in names.
    image_names captioned;

    // A line longer than the buffer arrives in pieces, and each piece is
    // parsed as a line of its own.
    char line[1024];
    while (std::fgets(line, sizeof line, file.get())) {
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
