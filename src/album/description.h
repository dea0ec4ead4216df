// The album description file, "<album>/.description": the album's title
// and the captions of its images.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/limits.h"

// One caption line.
struct description_entry {
    std::string file;
    std::string caption;
};

struct album_description {
    std::optional<std::string> title;  // the last "." line's text
    // The first caption line of each listed image, in file order.
    std::vector<description_entry> entries;
};

// The names of the album's images: the only ones whose captions are kept.
using image_names = std::unordered_set<std::string_view>;

// Reads the description of the album open as album_fd; album_path names it
// in messages. Only the title and the first caption line of each name in
// names are kept, so a long file costs time but no memory. A missing or
// unreadable file is no error: the album then has no title and no captions.
// Anything but a regular file is not read, with a warning on standard error.
// Of a file longer than largest_description only that much is read (what
// lies beyond is not even looked at), with a warning.
album_description read_description(int album_fd, const std::string &album_path,
                                   const image_names &names);

// Captions by file name, built once per album so that each lookup costs the
// same however long the file is. Refers into the entries it was built from.
using caption_index = std::unordered_map<std::string_view, const std::string *>;

// The first entry for a name wins.
caption_index index_captions(const std::vector<description_entry> &entries);

// The caption of the first entry for exactly this name, else the name itself.
const std::string &lookup_caption(const caption_index &captions, const std::string &name);
