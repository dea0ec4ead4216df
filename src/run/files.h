// Owners for stdio files and directory streams, and the write-then-rename
// road by which every output file reaches its final name complete.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <memory>
#include <string>

struct file_closer {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

struct dir_closer {
    void operator()(DIR *d) const { closedir(d); }
};
using unique_dir = std::unique_ptr<DIR, dir_closer>;

// "<dir>/<name>": paths are joined with a single slash and have no length
// limit of their own; the system refuses what it cannot take.
std::string join_path(const std::string &dir, const std::string &name);

// An output file under construction: written to "<final>.tmp", then moved
// to its final name by finish_output once it is closed.
struct output_file {
    std::string final_path;
    std::string temp_path;
    unique_file file;
};

// Opens "<final>.tmp" for writing (mode "w"). On failure reports
// open_failure_format (a format with one %s, the temporary path, without
// the program name or the system's error text) and ends the run.
output_file open_output(const std::string &final_path,
                        const char *open_failure_format = "can't fopen(%s)");

// Closes the file and renames it into place; any failure ends the run with
// "can't fclose(%s)" or "can't rename(%s, %s)".
void finish_output(output_file &out);
