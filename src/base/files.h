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

// An open file descriptor, closed with its owner.
struct unique_fd {
    int fd = -1;
    unique_fd() = default;
    explicit unique_fd(int descriptor) : fd(descriptor) {}
    unique_fd(unique_fd &&other) noexcept : fd(other.release()) {}
    unique_fd &operator=(unique_fd &&other) noexcept;
    ~unique_fd();
    int release();
    explicit operator bool() const { return fd >= 0; }
};

// Opens a directory that someone else may be able to swap for a symbolic
// link: the last component is never followed. -1 with errno on failure.
int open_dir_no_follow(const std::string &path);

// "<dir>/<name>": paths are joined with a single slash and have no length
// limit of their own; the system refuses what it cannot take.
std::string join_path(const std::string &dir, const std::string &name);

// The longest file name a directory takes, by its path or an open
// descriptor; 255, the usual limit, when the system cannot tell.
size_t name_limit(const std::string &dir);
size_t name_limit(int dir_fd);

// The name for "<name><suffix>" in a directory whose limit is given: that
// name when it fits, else a shortened one that stays the same from run to
// run: a prefix of name cut at a UTF-8 character boundary, "~", 16 hex
// digits of a hash of the whole name, then the suffix.
std::string fitted_name(size_t limit, const std::string &name, const std::string &suffix);

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
// to its final name by finish_output once it is closed. Both names live in
// the directory held open, so swapping a directory of the path for a
// symbolic link meanwhile redirects nothing.
struct output_file {
    std::string final_path;
    std::string temp_path;
    unique_fd dir;
    std::string final_name;  // in dir
    std::string temp_name;
    unique_file file;
};

// Where an output file's directory may be a symbolic link: only the gallery
// directory, which the user names. Directories inside it are never followed.
enum class parent_link { refuse, follow };

// Creates "<final>.tmp" afresh for writing: whatever is at that name (a
// leftover, a planted link or FIFO) is removed first, and the new file is
// created exclusively, never through a link. On failure reports
// open_failure_format (a format with one %s, the temporary path, without
// the program name or the system's error text) and ends the run.
output_file open_output(const std::string &final_path,
                        const char *open_failure_format = "can't fopen(%s)",
                        parent_link parent = parent_link::refuse);

// Closes the file and renames it into place; any failure ends the run with
// "can't fclose(%s)" or "can't rename(%s, %s)".
void finish_output(output_file &out);
