// read_description on arbitrary bytes, checked against a model of the file
// format written from its definition, and lookup_caption on the result.
//
// The format: lines read in pieces of at most 1023 bytes (a piece ends after
// a newline or when full), each piece seen as a C string (up to its first
// NUL byte); the first word ends at the first blank or tab and a piece
// without one is ignored; the rest loses one final newline, then its leading
// white space; a first word of "." sets the title, any other makes an entry
// when it names one of the album's images and has none yet.
//
// The album's images are chosen from the input's own words, those whose bytes
// add up to an even number, so that listed and unlisted names mix.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "album/description.h"

namespace {

std::string album_dir;  // private to this process; holds the file under test

void remove_album_dir()
{
    unlink((album_dir + "/.description").c_str());
    rmdir(album_dir.c_str());
}

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "description_fuzz: %s\n", what);
        std::abort();
    }
}

struct model_result {
    std::optional<std::string> title;
    std::vector<description_entry> entries;
};

// Every line of the format, in file order, unfiltered.
model_result model_parse(std::string_view bytes)
{
    model_result result;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t length = 0;
        while (length < 1023 && at + length < bytes.size()) {
            ++length;
            if (bytes[at + length - 1] == '\n') break;
        }
        std::string_view piece = bytes.substr(at, length);
        at += length;
        piece = piece.substr(0, piece.find('\0'));

        const size_t separator = piece.find_first_of(" \t");
        if (separator == std::string_view::npos) continue;
        const std::string_view word = piece.substr(0, separator);
        std::string_view rest = piece.substr(separator + 1);
        if (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front())))
            rest.remove_prefix(1);

        if (word == ".")
            result.title = std::string(rest);
        else
            result.entries.push_back({std::string(word), std::string(rest)});
    }
    return result;
}

bool chosen(const std::string &word)
{
    unsigned sum = 0;
    for (const char c : word) sum += static_cast<unsigned char>(c);
    return sum % 2 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vistrel-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("description_fuzz: mkdtemp");
        std::exit(1);
    }
    album_dir = pattern;
    std::atexit(remove_album_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = album_dir + "/.description";
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror("description_fuzz: writing the input");
        std::abort();
    }

    const model_result all =
        model_parse(std::string_view(reinterpret_cast<const char *>(data), size));
    const std::string absent = "no/such/image.jpg";
    image_names names = {absent};
    for (const description_entry &entry : all.entries)
        if (chosen(entry.file)) names.insert(entry.file);
    std::vector<description_entry> expected;
    std::unordered_set<std::string_view> captioned;
    for (const description_entry &entry : all.entries)
        if (names.contains(entry.file) && captioned.insert(entry.file).second)
            expected.push_back(entry);

    const int album_fd = open(album_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    check(album_fd >= 0, "can't open the album directory");
    const album_description description = read_description(album_fd, album_dir, names);
    close(album_fd);
    const std::vector<description_entry> &entries = description.entries;
    const caption_index captions = index_captions(entries);

    check(description.title == all.title, "title differs from the format's");
    check(entries.size() == expected.size(), "entry count differs from the format's");
    for (size_t i = 0; i < entries.size(); ++i) {
        check(entries[i].file == expected[i].file, "entry file differs from the format's");
        check(entries[i].caption == expected[i].caption, "entry caption differs from the format's");
    }

    // Each kept entry gives its name's caption; any other name is its own
    // caption, the very same text.
    for (const description_entry &entry : entries)
        check(&lookup_caption(captions, entry.file) == &entry.caption,
              "lookup found the wrong entry");
    bool listed = false;
    for (const description_entry &entry : entries) listed = listed || entry.file == absent;
    if (!listed)
        check(&lookup_caption(captions, absent) == &absent, "a missing name got a caption");
    return 0;
}
