// The messages of the ground layer, the file system's: each is a function,
// so its text is a literal checked against its arguments, and one can be
// handed on by name (path_message). Each layer keeps its own messages in a
// messages.h of its own beside these. Failures leave out the program name:
// the top level adds it.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/failure.h"
#include "base/report.h"

// printf into a failure; errno_failure adds ": " and the system's text for
// errno as it was on entry, then the newline.
failure failure_text(const char *format, ...) __attribute__((format(printf, 1, 2)));
failure errno_failure(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A failure-making message that names one path.
using path_message = failure (*)(const std::string &path);

namespace message {

inline failure cant_stat(const std::string &path)
{
    return errno_failure("can't stat(%s)", path.c_str());
}
inline failure cant_fopen(const std::string &path)
{
    return errno_failure("can't fopen(%s)", path.c_str());
}
inline failure fopen_failed(const std::string &path)
{
    return errno_failure("fopen(%s) failed", path.c_str());
}
inline failure cant_fclose(const std::string &path)
{
    return errno_failure("can't fclose(%s)", path.c_str());
}
inline failure cant_write(const std::string &path)
{
    return errno_failure("can't write(%s)", path.c_str());
}
inline failure cant_mkdir(const std::string &path)
{
    return errno_failure("can't mkdir(%s)", path.c_str());
}
inline failure cant_opendir(const std::string &path)
{
    return errno_failure("can't opendir(%s)", path.c_str());
}
inline failure cant_readdir(const std::string &path)
{
    return errno_failure("can't readdir(%s)", path.c_str());
}
inline failure cant_closedir(const std::string &path)
{
    return errno_failure("can't closedir(%s)", path.c_str());
}
inline failure error_on_closedir(const std::string &path)
{
    return errno_failure("error on closedir(%s)", path.c_str());
}
inline failure cant_rename(const std::string &from, const std::string &to)
{
    return errno_failure("can't rename(%s, %s)", from.c_str(), to.c_str());
}
inline failure cant_set_time(const std::string &path)
{
    return errno_failure("can't futimens(%s)", path.c_str());
}
inline failure cant_malloc() { return errno_failure("can't malloc"); }
// A cache directory that is no directory; the two shapes are kept as users know them.
inline failure quoted_not_a_directory(const std::string &path)
{
    return failure_text("'%s' exists, but is not a directory\n", path.c_str());
}
inline failure unquoted_not_a_directory(const std::string &path)
{
    return failure_text("%s exists, but is not a directory\n", path.c_str());
}

// Standard output that took no more of what the run said (a full disk):
// the errno of the first write that failed.
inline failure cant_write_standard_output(int error)
{
    return failure_text("can't write to standard output: %s\n", std::strerror(error));
}

}  // namespace message

namespace note {

// Fewer job threads than asked for could be started (the user's process
// limit, or memory): the run goes on with those it has.
inline void threads_not_started(size_t started, size_t wanted, int error)
{
    report_err("%s: could start only %zu of %zu thread%s: %s\n", program_name().c_str(), started,
               wanted, wanted == 1 ? "" : "s", std::strerror(error));
}

}  // namespace note
