// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/files.h"

struct temp_dir {
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;

    std::string path;

    // path + "/" + name; nothing is created.
    std::string file(const std::string &name) const;
};

// Small file helpers for tests.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
void append_file(const std::string &path, const std::string &content);
bool file_exists(const std::string &path);  // lstat: links count, even dangling
bool is_symlink(const std::string &path);
bool is_regular_file(const std::string &path);  // lstat: a link to a file is not one
void make_dir(const std::string &path);
void make_socket(const std::string &path);  // a bound Unix socket's file, which open() refuses
void set_mtime(const std::string &path, int64_t seconds);
int64_t mtime_of(const std::string &path);

// How list_names lists a directory.
struct listing {
    // In the order the directory gives its entries, which is the order the
    // program meets them, instead of sorted by their bytes.
    bool as_listed = false;
    // The entries of its subdirectories too, as paths relative to it; a
    // directory's own entry ends in '/'. Links are not followed.
    bool recursive = false;
};

// The names in a directory, "." and ".." left out; throws when it cannot be
// read.
std::vector<std::string> list_names(const std::string &dir, listing how = {});

// The directory held open as the program holds one, named by its path.
open_dir held_dir(const std::string &path);
