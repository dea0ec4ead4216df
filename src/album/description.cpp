#include "album/description.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/fatal.h"
#include "base/files.h"

namespace {

std::string copy_text(const char *text, size_t length)
{
    try {
        return std::string(text, length);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        fatal_errno("can't strdup(%.*s)", static_cast<int>(length), text);
    }
}

}  // namespace

album_description read_description(const std::string &album_path)
{
    album_description description;

    // Optional: an album without a readable description simply has no title
    // and no captions.
    unique_file file(std::fopen(join_path(album_path, ".description").c_str(), "r"));
    if (!file) return description;

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
        try {
            description.entries.push_back(std::move(entry));
        } catch (const std::bad_alloc &) {
            errno = ENOMEM;
            fatal_errno("can't realloc");
        }
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
