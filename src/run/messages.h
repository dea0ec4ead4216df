// What the gallery run and the command line say: the failures that end the
// run from the top, its progress and summary on standard output, and the
// command line's complaints before the usage text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/messages.h"

namespace message {

inline failure gallery_locked(const std::string &path)
{
    return failure_text("'%s' is being updated by another run\n", path.c_str());
}
// The gallery's lock file, .lock, which no one but the run's user can open.
inline failure cant_lock(const std::string &path)
{
    return errno_failure("can't lock '%s': .lock", path.c_str());
}
// A link, a directory, a FIFO or someone else's file in the lock file's place.
inline failure lock_not_ours(const std::string &path)
{
    return failure_text("can't lock '%s': .lock is not a regular file of this user\n",
                        path.c_str());
}
// The same at the name a lock file that others could open is replaced from.
inline failure new_lock_not_ours(const std::string &path)
{
    return failure_text("can't lock '%s': .lock.tmp is not a regular file of this user\n",
                        path.c_str());
}
// The end of a run that kept going (-k) past photographs it could not read.
inline failure photos_unreadable(int32_t photos)
{
    return failure_text("%d photo%s could not be read\n", photos, photos == 1 ? "" : "s");
}

// The end of a run that left out albums at fault themselves (a cache
// directory that is no directory).
inline failure albums_left_out(int32_t albums)
{
    return failure_text("%d album%s could not be made\n", albums, albums == 1 ? "" : "s");
}

}  // namespace message

namespace note {

inline void directory(const std::string &path) { report_out("Directory %s\n", path.c_str()); }
// -R: an album at the deepest level made, whose folders are left alone.
inline void too_deep(const std::string &path, size_t levels)
{
    report_err("%s: '%s' is %zu folders deep: the folders in it are not made into albums\n",
               program_name().c_str(), path.c_str(), levels);
}
inline void albums_processed(int32_t albums)
{
    report_out("%d album%s processed.\n", albums, albums == 1 ? "" : "s");
}
inline void run_summary(int32_t albums, int32_t photos, int32_t made, int32_t fresh,
                        int32_t deleted, double seconds)
{
    report_out("%d album%s, %d photo%s: %d made, %d fresh, %d deleted in %.1f s\n", albums,
               albums == 1 ? "" : "s", photos, photos == 1 ? "" : "s", made, fresh, deleted,
               seconds);
}
// The command line's own complaints, before the usage text.
inline void invalid_argument(char option, const char *arg)
{
    report_err("%s: invalid argument '-%c %s'\n", program_name().c_str(), option, arg);
}
inline void invalid_option(int option)
{
    report_err("%s: invalid option -- '%c'\n", program_name().c_str(), option);
}
inline void missing_argument(int option)
{
    report_err("%s: option requires an argument -- '%c'\n", program_name().c_str(), option);
}
inline void not_a_directory(const std::string &path)
{
    report_err("%s: '%s' is not a directory\n", program_name().c_str(), path.c_str());
}

}  // namespace note
