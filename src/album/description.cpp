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

album_description read_description(const std::string &album_path)
{
    album_description description;

    // Optional: an album without a readable description simply has no title
    // and no captions. Only a regular file is read: a FIFO would block the
    // run, a device could feed it for ever, and a link may lead anywhere.
    const std::string path = join_path(album_path, ".description");
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno != ELOOP) return description;
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        if (fd >= 0) close(fd);
        report_err("   %s: not a regular file, ignored\n", path.c_str());
        return description;
    }
    unique_file file(fdopen(fd, "r"));
    if (!file) {
        close(fd);
        return description;
    }

    // A line longer than the buffer arrives in pieces, and each piece is
    // parsed as a line of its own.
    char line[1024];
    while (std::fgets(line, sizeof line, file.get())) {
        char *separator = std::strpbrk(line, " \t");
        if (!separator) continue;
        *separator = '\0';
        const char *word = line;
        char *rest = separator + 1;

        size_t length = std::strlen(rest);
        if (length > 0 && rest[length - 1] == '\n') rest[--length] = '\0';
        while (std::isspace(static_cast<unsigned char>(*rest))) {
            ++rest;
            --length;
        }

        std::string text = copy_text(rest, length);
        if (std::strcmp(word, ".") == 0) {
            description.title = std::move(text);  // a later title line wins
            continue;
        }
        description_entry entry{copy_text(word, std::strlen(word)), std::move(text)};
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
