#include "run/files.h"

#include <cstdio>

#include "run/fatal.h"

std::string join_path(const std::string &dir, const std::string &name)
{
    std::string path;
    path.reserve(dir.size() + 1 + name.size());
    path += dir;
    path += '/';
    path += name;
    return path;
}

output_file open_output(const std::string &final_path, const char *open_failure_format)
{
    output_file out;
    out.final_path = final_path;
    out.temp_path = final_path + ".tmp";
    out.file.reset(std::fopen(out.temp_path.c_str(), "w"));
    if (!out.file) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        fatal_errno(open_failure_format, out.temp_path.c_str());
#pragma GCC diagnostic pop
    }
    return out;
}

void finish_output(output_file &out)
{
    // fclose reports the write errors that the buffered writes kept back.
    if (std::fclose(out.file.release()) != 0)
        fatal_errno("can't fclose(%s)", out.temp_path.c_str());
    if (std::rename(out.temp_path.c_str(), out.final_path.c_str()) != 0)
        fatal_errno("can't rename(%s, %s)", out.temp_path.c_str(), out.final_path.c_str());
}
