// Directories held open and everything reached through them: a directory is
// looked up by its path once, and what is inside it only through its
// descriptor after that, never following a symbolic link, so a directory or
// file swapped for a link while the run goes on redirects nothing. Paths are
// still carried, but only to name things in messages.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"
#include "base/messages.h"

struct file_closer {
    // A file read, or an output given up on: close_output() checks the close
    // of one kept.
    void operator()(std::FILE *f) const { static_cast<void>(std::fclose(f)); }
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

// A directory held open, and its path for messages. The descriptor is an
// O_PATH one: enough to reach entries, create, rename and remove them, and it
// needs no permission to read or write the directory itself.
struct open_dir {
    unique_fd fd;
    std::string path;
};

// The directory the user names, following a link there as the user chose.
// -1 with errno on failure.
int open_named_dir(const std::string &path);

// The entry `name` of a directory held open, as a directory: never a link.
// -1 with errno on failure (ELOOP or ENOTDIR for a link or a file).
int open_dir_at(int dir_fd, const std::string &name);

// "<dir>/<name>": paths are joined with a single slash and have no length
// limit of their own; the system refuses what it cannot take.
std::string join_path(const std::string &dir, const std::string &name);

// The longest file name a directory takes; 255, the usual limit, when the
// system cannot tell.
size_t name_limit(int dir_fd);

// The name for "<name><suffix>" in a directory whose limit is given: that
// name when it fits, else a shortened one that stays the same from run to
// run: a prefix of name cut at a UTF-8 character boundary, "~", 16 hex
// digits of a hash of the whole name, then the suffix.
std::string fitted_name(size_t limit, const std::string &name, const std::string &suffix);

// Whether text is the tag fitted_name puts in a shortened name: "~" and 16
// lower-case hex digits.
bool is_name_tag(std::string_view text);

// The tag that makes a temporary name this run's own: "." and 8 lower-case
// hex digits, drawn once per process. Runs that share the gallery's lock
// (the same part run twice at once) then never write to one name.
const std::string &run_tag();

// Whether text has run_tag's form.
bool is_run_tag(std::string_view text);

// One entry of a directory listing, typed as the listing itself reports it:
// symbolic links are not followed. Where the file system does not tell the
// type, it is asked of the entry itself, still without following a link.
struct dir_entry {
    std::string name;
    unsigned char type;  // DT_REG, DT_DIR, ...
};

// Every entry of the directory, in the order the system lists them, but "."
// and "..". Fails with "can't opendir(%s)", "can't readdir(%s)", or
// closedir_failure (the path), of kind not_closed, when closing fails.
result<std::vector<dir_entry>> list_directory(const open_dir &dir, path_message closedir_failure);

// The entry's status, without following a link; false with errno when
// there is none.
bool stat_entry(int dir_fd, const std::string &name, struct stat &status);

// Whose a temporary name is: the gallery's ("<final>.tmp"), for files only
// a run holding the lock alone writes, or this run's
// ("<final><run_tag>.tmp"), for files that runs sharing the lock may write
// side by side.
enum class temp_scope { gallery, run };

// An output file under construction: written to a temporary name, then moved
// to its final name by finish_output once it is complete. An output
// dropped unfinished, on any road, takes its temporary file with it.
class output_file {
public:
    output_file() = default;
    output_file(output_file &&other) noexcept;
    output_file &operator=(output_file &&other) = delete;
    ~output_file();

    std::FILE *stream() const { return file_.get(); }
    const std::string &final_path() const { return final_path_; }

    friend result<output_file> open_output(const open_dir &dir, const std::string &name,
                                           path_message open_failure, temp_scope scope);
    friend outcome close_output(output_file &out);
    friend outcome place_output(output_file &out);

private:
    int dir_ = -1;  // the directory's descriptor, held by its owner
    std::string final_name;
    std::string temp_name;
    std::string final_path_;  // for messages
    std::string temp_path;
    unique_file file_;
    bool placed = false;
};

// Creates the temporary name of `name` (temp_scope) afresh for writing in
// the directory: whatever is at that name (a leftover, a planted link or
// FIFO) is removed first, and the new file is created exclusively, never
// through a link. Fails with open_failure (the temporary path) and the
// system's reason.
[[nodiscard]] result<output_file> open_output(const open_dir &dir, const std::string &name,
                                              path_message open_failure = message::cant_fopen,
                                              temp_scope scope = temp_scope::gallery);

// Checks that every write reached the file, closes it and renames it into
// place. On failure the temporary file is removed and the final name keeps
// what it had: "can't write(%s)", "can't fclose(%s)" or "can't rename(%s, %s)".
[[nodiscard]] outcome finish_output(output_file &out);

// finish_output in two steps, for files put in place later than they are
// written: close_output checks the writes and closes the file under its
// temporary name, place_output renames it. Until it is placed, dropping it
// still removes the temporary file.
[[nodiscard]] outcome close_output(output_file &out);
[[nodiscard]] outcome place_output(output_file &out);
