#include "base/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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
    out.temp_path = final_path + ".tmp";
    const size_t slash = final_path.rfind('/');
    const std::string dir_path = slash == std::string::npos ? "." : final_path.substr(0, slash + 1);
    out.final_name = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    out.temp_name = out.final_name + ".tmp";

    // O_PATH: a directory that may be written but not listed serves too.
    const int no_follow = parent == parent_link::refuse ? O_NOFOLLOW : 0;
    out.dir = unique_fd(open(dir_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | no_follow));
    if (!out.dir) fatal_errno(open_failure_format, out.temp_path.c_str());
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
