// Owners for stdio files and directory streams, the listing of a directory,
// and the write-then-rename road by which every output file reaches its
// final name complete.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

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

// One entry of a directory listing, typed as the listing itself reports it:
// symbolic links are not followed.
struct dir_entry {
    std::string name;
    unsigned char type;  // DT_REG, DT_DIR, ...
};

// Every entry of the directory, in the order the system lists them. Any
// failure ends the run: "can't opendir(%s)", "can't readdir(%s)", or
// closedir_failure_format (one %s, the path) when closing fails.
std::vector<dir_entry> list_directory(const std::string &path, const char *closedir_failure_format);

// An output file under construction: written to "<final>.tmp", then moved
// to its final name by finish_output once it is closed.
struct output_file {
    std::string final_path;
    std::string temp_path;
    unique_file file;
};

// Opens "<final>.tmp" for writing. On failure reports open_failure_format
// (a format with one %s, the temporary path, without the program name or
// the system's error text) and ends the run.
output_file open_output(const std::string &final_path,
                        const char *open_failure_format = "can't fopen(%s)");

// Closes the file and renames it into place; any failure ends the run with
// "can't fclose(%s)" or "can't rename(%s, %s)".
void finish_output(output_file &out);
