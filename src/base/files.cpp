#include "base/files.h"

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

output_file open_output(const std::string &final_path, const char *open_failure_format)
{
    output_file out;
    out.final_path = final_path;
    out.temp_path = final_path + ".tmp";
    out.file.reset(std::fopen(out.temp_path.c_str(), "w"));
    if (!out.file) fatal_errno(open_failure_format, out.temp_path.c_str());
    return out;
}

#pragma GCC diagnostic pop

void finish_output(output_file &out)
{
    // fclose reports the write errors that the buffered writes kept back.
    if (std::fclose(out.file.release()) != 0)
        fatal_errno("can't fclose(%s)", out.temp_path.c_str());
    if (std::rename(out.temp_path.c_str(), out.final_path.c_str()) != 0)
        fatal_errno("can't rename(%s, %s)", out.temp_path.c_str(), out.final_path.c_str());
}
