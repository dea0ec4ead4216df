#include "base/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <random>

std::string join_path(const std::string &dir, const std::string &name)
{
    std::string path;
    path.reserve(dir.size() + 1 + name.size());
    path += dir;
    path += '/';
    path += name;
    return path;
}

unique_fd &unique_fd::operator=(unique_fd &&other) noexcept
{
    if (this != &other) {
        if (fd >= 0) close(fd);
        fd = other.release();
    }
    return *this;
}

unique_fd::~unique_fd()
{
    if (fd >= 0) close(fd);
}

int unique_fd::release()
{
    const int descriptor = fd;
    fd = -1;
    return descriptor;
}

int open_named_dir(const std::string &path)
{
    return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

int open_dir_at(int dir_fd, const std::string &name)
{
    return openat(dir_fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool stat_entry(int dir_fd, const std::string &name, struct stat &status)
{
    return fstatat(dir_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

namespace {

// FNV-1a, 64 bits: stable across runs, machines and versions.
uint64_t name_hash(const std::string &name)
{
    uint64_t hash = 14695981039346656037ull;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

unsigned char type_of(const struct stat &status)
{
    if (S_ISREG(status.st_mode)) return DT_REG;
    if (S_ISDIR(status.st_mode)) return DT_DIR;
    if (S_ISLNK(status.st_mode)) return DT_LNK;
    if (S_ISFIFO(status.st_mode)) return DT_FIFO;
    if (S_ISSOCK(status.st_mode)) return DT_SOCK;
    if (S_ISCHR(status.st_mode)) return DT_CHR;
    if (S_ISBLK(status.st_mode)) return DT_BLK;
    return DT_UNKNOWN;
}

}  // namespace

size_t name_limit(int dir_fd)
{
    const long limit = fpathconf(dir_fd, _PC_NAME_MAX);
    return limit > 0 ? static_cast<size_t>(limit) : 255;
}

std::string fitted_name(size_t limit, const std::string &name, const std::string &suffix)
{
    if (name.size() + suffix.size() <= limit) return name + suffix;
    char tag[18];
    // Always 17 characters and the terminator.
    static_cast<void>(std::snprintf(tag, sizeof tag, "~%016llx",
                                    static_cast<unsigned long long>(name_hash(name))));
    const size_t room = limit > suffix.size() + 17 ? limit - suffix.size() - 17 : 0;
    size_t cut = room < name.size() ? room : name.size();
    // Back to the start of a character: continuation bytes are 10xxxxxx.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    std::string fitted = name.substr(0, cut);
    fitted += tag;
    fitted += suffix;
    return fitted;
}

bool is_name_tag(std::string_view text)
{
    return text.size() == 17 && text[0] == '~' &&
           text.find_first_not_of("0123456789abcdef", 1) == std::string_view::npos;
}

const std::string &run_tag()
{
    // Random bits, mixed with the process and the time in case the system
    // has no source of them: unique among runs on one machine and, in all
    // likelihood, among runs of one gallery on several.
    static const std::string tag = [] {
        uint32_t bits = 0;
        try {
            bits = std::random_device()();
        } catch (const std::exception &) {
        }
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        bits ^= static_cast<uint32_t>(getpid()) * 2654435761u ^ static_cast<uint32_t>(now.tv_nsec);
        std::string text = ".";
        for (int shift = 28; shift >= 0; shift -= 4)
            text += "0123456789abcdef"[(bits >> shift) & 15];
        return text;
    }();
    return tag;
}

bool is_run_tag(std::string_view text)
{
    return text.size() == 9 && text[0] == '.' &&
           text.find_first_not_of("0123456789abcdef", 1) == std::string_view::npos;
}

result<std::vector<dir_entry>> list_directory(const open_dir &dir, path_message closedir_failure)
{
    // A descriptor of its own to read with: the held one is O_PATH.
    const int fd = openat(dir.fd.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    unique_dir stream(fd >= 0 ? fdopendir(fd) : nullptr);
    if (!stream) {
        const int saved = errno;
        if (fd >= 0) close(fd);
        errno = saved;
        return message::cant_opendir(dir.path);
    }
    std::vector<dir_entry> entries;
    errno = 0;
    while (const dirent *entry = readdir(stream.get())) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            errno = 0;
            continue;
        }
        unsigned char type = entry->d_type;
        struct stat status;
        if (type == DT_UNKNOWN && stat_entry(dir.fd.fd, name, status)) type = type_of(status);
        entries.push_back({name, type});
        errno = 0;
    }
    if (errno != 0) return message::cant_readdir(dir.path);
    if (closedir(stream.release()) != 0) {
        failure unclosed = closedir_failure(dir.path);
        unclosed.kind = failure_kind::not_closed;
        return unclosed;
    }
    return entries;
}

output_file::output_file(output_file &&other) noexcept
    : dir_(other.dir_), final_name(std::move(other.final_name)),
      temp_name(std::move(other.temp_name)), final_path_(std::move(other.final_path_)),
      temp_path(std::move(other.temp_path)), file_(std::move(other.file_)), placed(other.placed)
{
    other.placed = true;  // nothing left for the moved-from one to remove
}

output_file::~output_file()
{
    if (placed || temp_name.empty()) return;
    file_.reset();
    unlinkat(dir_, temp_name.c_str(), 0);
}

namespace {

// A failure to write or place an output, for the system's reason `cause`:
// of kind in_the_way when what is under the name is what the run may not
// remove.
failure output_failure(int cause, failure error)
{
    if (cause == EISDIR || cause == ENOTEMPTY || cause == EEXIST)
        error.kind = failure_kind::in_the_way;
    return error;
}

}  // namespace

result<output_file> open_output(const open_dir &dir, const std::string &name,
                                path_message open_failure, temp_scope scope)
{
    output_file out;
    out.dir_ = dir.fd.fd;
    out.final_name = name;
    out.final_path_ = join_path(dir.path, name);
    // A final name at the length limit leaves no room for the suffix.
    out.temp_name = fitted_name(name_limit(dir.fd.fd), name,
                                scope == temp_scope::run ? run_tag() + ".tmp" : ".tmp");
    out.temp_path = join_path(dir.path, out.temp_name);
    // The name is this run's, or the run holds the gallery's lock alone: what
    // is there is no one's work in progress, but a leftover or something
    // planted.
    if (unlinkat(dir.fd.fd, out.temp_name.c_str(), 0) != 0 && errno != ENOENT) {
        const int cause = errno;
        out.placed = true;  // not ours to remove
        return output_failure(cause, open_failure(out.temp_path));
    }
    const int fd = openat(dir.fd.fd, out.temp_name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int cause = errno;
        out.placed = true;
        return output_failure(cause, open_failure(out.temp_path));
    }
    out.file_.reset(fdopen(fd, "w"));
    if (!out.file_) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return open_failure(out.temp_path);  // the destructor removes the file
    }
    return out;
}

outcome close_output(output_file &out)
{
    std::FILE *file = out.file_.get();
    // Buffered writes report their errors only here: a page or an image cut
    // short by a full disk never reaches its final name.
    errno = 0;
    if (std::fflush(file) != 0 || std::ferror(file)) {
        if (errno == 0) errno = EIO;
        return message::cant_write(out.temp_path);
    }
    if (std::fclose(out.file_.release()) != 0) return message::cant_fclose(out.temp_path);
    return {};
}

outcome place_output(output_file &out)
{
    if (renameat(out.dir_, out.temp_name.c_str(), out.dir_, out.final_name.c_str()) != 0) {
        const int cause = errno;
        return output_failure(cause, message::cant_rename(out.temp_path, out.final_path_));
    }
    out.placed = true;
    return {};
}

outcome finish_output(output_file &out)
{
    if (outcome closed = close_output(out); !closed.ok()) return closed;
    return place_output(out);
}
