// Every message that ends a run or warns about one image, in one place. Each
// is a function, so its text is a literal checked against its arguments, and
// one can be handed to a lower layer by name. Failures leave out the program
// name: the top level adds it.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "base/failure.h"

// printf into a failure; errno_failure adds ": " and the system's text for
// errno as it was on entry, then the newline.
failure failure_text(const char *format, ...) __attribute__((format(printf, 1, 2)));
failure errno_failure(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A failure-making message that names one path.
using path_message = failure (*)(const std::string &path);

namespace message {

inline failure cant_stat(const std::string &path) { return errno_failure("can't stat(%s)", path.c_str()); }
inline failure cant_fopen(const std::string &path) { return errno_failure("can't fopen(%s)", path.c_str()); }
inline failure fopen_failed(const std::string &path) { return errno_failure("fopen(%s) failed", path.c_str()); }
inline failure cant_fclose(const std::string &path) { return errno_failure("can't fclose(%s)", path.c_str()); }
inline failure cant_write(const std::string &path) { return errno_failure("can't write(%s)", path.c_str()); }
inline failure cant_mkdir(const std::string &path) { return errno_failure("can't mkdir(%s)", path.c_str()); }
inline failure cant_opendir(const std::string &path) { return errno_failure("can't opendir(%s)", path.c_str()); }
inline failure cant_readdir(const std::string &path) { return errno_failure("can't readdir(%s)", path.c_str()); }
inline failure cant_closedir(const std::string &path) { return errno_failure("can't closedir(%s)", path.c_str()); }
inline failure error_on_closedir(const std::string &path)
{
    return errno_failure("error on closedir(%s)", path.c_str());
}
inline failure cant_rename(const std::string &from, const std::string &to)
{
    return errno_failure("can't rename(%s, %s)", from.c_str(), to.c_str());
}
inline failure cant_malloc() { return errno_failure("can't malloc"); }
inline failure cant_resize(const std::string &name) { return errno_failure("can't resize image '%s'", name.c_str()); }

// A photograph that is not a plain file: a link, a FIFO or a device.
inline failure not_a_regular_photo(const std::string &path)
{
    return failure_text("can't fopen(%s): not a regular file\n", path.c_str());
}

// A cache directory that is no directory; the two shapes are kept as users know them.
inline failure quoted_not_a_directory(const std::string &path)
{
    return failure_text("'%s' exists, but is not a directory\n", path.c_str());
}
inline failure unquoted_not_a_directory(const std::string &path)
{
    return failure_text("%s exists, but is not a directory\n", path.c_str());
}

// A codec's own text about a file it cannot read or write.
inline failure codec_error(const std::string &path, const char *text)
{
    return failure_text("%s: %s\n", path.c_str(), text);
}

inline failure too_high(const std::string &path, int32_t height, int32_t largest)
{
    return failure_text("can't scale '%s' to a height of %d pixels: JPEG images are at most %d pixels high\n",
                        path.c_str(), height, largest);
}
inline failure too_wide(const std::string &path, int32_t height, double width, int32_t largest)
{
    return failure_text("can't scale '%s' to a height of %d pixels: it would be %.0f pixels wide, and JPEG "
                        "images are at most %d pixels wide\n",
                        path.c_str(), height, width, largest);
}

inline failure gallery_locked(const std::string &path)
{
    return failure_text("'%s' is being updated by another run\n", path.c_str());
}

}  // namespace message
