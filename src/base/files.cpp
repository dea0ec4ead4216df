#include "base/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "base/fatal.h"

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

int open_dir_no_follow(const std::string &path)
{
    return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

namespace {

size_t name_max(long limit) { return limit > 0 ? static_cast<size_t>(limit) : 255; }

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

}  // namespace

size_t name_limit(const std::string &dir) { return name_max(pathconf(dir.c_str(), _PC_NAME_MAX)); }

size_t name_limit(int dir_fd) { return name_max(fpathconf(dir_fd, _PC_NAME_MAX)); }

std::string fitted_name(size_t limit, const std::string &name, const std::string &suffix)
{
    if (name.size() + suffix.size() <= limit) return name + suffix;
    char tag[18];
    std::snprintf(tag, sizeof tag, "~%016llx", static_cast<unsigned long long>(name_hash(name)));
    const size_t room = limit > suffix.size() + 17 ? limit - suffix.size() - 17 : 0;
    size_t cut = room < name.size() ? room : name.size();
    // Back to the start of a character: continuation bytes are 10xxxxxx.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    std::string fitted = name.substr(0, cut);
    fitted += tag;
    fitted += suffix;
    return fitted;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

std::vector<dir_entry> list_directory(const std::string &path, const char *closedir_failure_format)
{
    unique_dir dir(opendir(path.c_str()));
    if (!dir) fatal_errno("can't opendir(%s)", path.c_str());
    std::vector<dir_entry> entries;
    errno = 0;
    while (const dirent *entry = readdir(dir.get())) {
        entries.push_back({entry->d_name, entry->d_type});
        errno = 0;
    }
    if (errno != 0) fatal_errno("can't readdir(%s)", path.c_str());
    if (closedir(dir.release()) != 0) fatal_errno(closedir_failure_format, path.c_str());
    return entries;
}

output_file open_output(const std::string &final_path, const char *open_failure_format,
                        parent_link parent)
{
    output_file out;
    out.final_path = final_path;
    const size_t slash = final_path.rfind('/');
    const std::string dir_prefix = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
    const std::string dir_path = dir_prefix.empty() ? "." : dir_prefix;
    out.final_name = final_path.substr(dir_prefix.size());
    out.temp_path = final_path + ".tmp";

    // O_PATH: a directory that may be written but not listed serves too.
    const int no_follow = parent == parent_link::refuse ? O_NOFOLLOW : 0;
    out.dir = unique_fd(open(dir_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | no_follow));
    if (!out.dir) fatal_errno(open_failure_format, out.temp_path.c_str());
    // A final name at the length limit leaves no room for ".tmp".
    out.temp_name = fitted_name(name_limit(out.dir.fd), out.final_name, ".tmp");
    out.temp_path = dir_prefix + out.temp_name;
    // The run holds the gallery's lock, so nothing at the temporary name is
    // anyone's work in progress: a leftover, or something planted.
    if (unlinkat(out.dir.fd, out.temp_name.c_str(), 0) != 0 && errno != ENOENT)
        fatal_errno(open_failure_format, out.temp_path.c_str());
    const int fd = openat(out.dir.fd, out.temp_name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) fatal_errno(open_failure_format, out.temp_path.c_str());
    out.file.reset(fdopen(fd, "w"));
    if (!out.file) {
        const int saved = errno;
        close(fd);
        errno = saved;
        fatal_errno(open_failure_format, out.temp_path.c_str());
    }
    return out;
}

#pragma GCC diagnostic pop

void finish_output(output_file &out)
{
    // fclose reports the write errors that the buffered writes kept back.
    if (std::fclose(out.file.release()) != 0)
        fatal_errno("can't fclose(%s)", out.temp_path.c_str());
    if (renameat(out.dir.fd, out.temp_name.c_str(), out.dir.fd, out.final_name.c_str()) != 0)
        fatal_errno("can't rename(%s, %s)", out.temp_path.c_str(), out.final_path.c_str());
}
