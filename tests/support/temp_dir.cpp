#include "support/temp_dir.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

temp_dir::temp_dir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vistrel-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    path = buffer.data();
}

temp_dir::~temp_dir()
{
    std::error_code ignored;
    // Tests may leave read-only directories behind; give back write access.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path, ignored);
}

std::string temp_dir::file(const std::string &name) const { return path + "/" + name; }

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << content;
}

void append_file(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << content;
}

bool file_exists(const std::string &path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

bool is_symlink(const std::string &path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool is_regular_file(const std::string &path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

void make_dir(const std::string &path)
{
    if (mkdir(path.c_str(), 0777) != 0) throw std::runtime_error("cannot mkdir " + path);
}

void make_socket(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("cannot make a socket");
    const int bound = bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    close(fd);  // the socket file stays
    if (bound != 0) throw std::runtime_error("cannot bind a socket to " + path);
}

void set_mtime(const std::string &path, int64_t seconds)
{
    struct timeval times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_usec = times[1].tv_usec = 0;
    if (utimes(path.c_str(), times) != 0) throw std::runtime_error("cannot set mtime of " + path);
}

int64_t mtime_of(const std::string &path)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0) throw std::runtime_error("cannot stat " + path);
    return status.st_mtime;
}

namespace {

void add_names(const std::string &root, const std::string &prefix, bool recursive,
               std::vector<std::string> &names)
{
    const std::string path = prefix.empty() ? root : root + "/" + prefix;
    DIR *dir = opendir(path.c_str());
    if (!dir) throw std::runtime_error("cannot list " + path);
    std::vector<std::string> subdirectories;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string relative = prefix.empty() ? name : prefix + "/" + name;
        struct stat status;
        if (recursive && lstat((root + "/" + relative).c_str(), &status) == 0 &&
            S_ISDIR(status.st_mode)) {
            names.push_back(relative + "/");
            subdirectories.push_back(relative);
        } else {
            names.push_back(relative);
        }
    }
    closedir(dir);
    for (const std::string &subdirectory : subdirectories)
        add_names(root, subdirectory, recursive, names);
}

}  // namespace

std::vector<std::string> list_names(const std::string &dir, listing how)
{
    std::vector<std::string> names;
    add_names(dir, "", how.recursive, names);
    if (!how.as_listed) std::sort(names.begin(), names.end());
    return names;
}

open_dir held_dir(const std::string &path)
{
    return open_dir{unique_fd(open_named_dir(path)), path};
}
