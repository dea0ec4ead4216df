// What the gallery run and the command line say: the failures that end the
// run from the top, its progress and summary on standard output, and the
// command line's complaints before the usage text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
// The end of a run that kept going (-k) past photographs it could not read:
// the first few by name, relative to the gallery; each has its line above.
inline failure photos_unreadable(int32_t photos, const std::vector<std::string> &names)
{
    constexpr size_t named = 5;
    std::string list;
    for (size_t i = 0; i < names.size() && i < named; ++i) list += (i ? ", " : "") + names[i];
    if (names.size() > named)
        list += " and " + std::to_string(names.size() - named) +
                " more, each on its line 'left out'";
    return failure_text("%d photo%s could not be read and %s left out: %s\n", photos,
                        photos == 1 ? "" : "s", photos == 1 ? "was" : "were", list.c_str());
}

// Part runs, or the pages run after them, given other options that shape
// the derived images than the gallery's record holds: what differs, as
// recorded and as given.
inline failure derive_options_differ(const std::string &path, const std::string &recorded,
                                     const std::string &given)
{
    return failure_text("'%s' was derived with %s; this run has %s: give it the options it was "
                        "derived with, or -f to derive it all again\n",
                        path.c_str(), recorded.c_str(), given.c_str());
}
inline failure cant_read_derive_record(const std::string &path)
{
    return errno_failure("can't read '%s': .derive-options", path.c_str());
}
inline failure cant_write_derive_record(const std::string &path)
{
    return errno_failure("can't write '%s': .derive-options", path.c_str());
}
inline failure derive_record_not_a_file(const std::string &path)
{
    return failure_text("can't read '%s': .derive-options is not a regular file\n", path.c_str());
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
// glibc's getopt_long's wording, for a long option it does not know.
inline void unrecognized_option(const char *word)
{
    report_err("%s: unrecognized option '%s'\n", program_name().c_str(), word);
}
inline void option_after_operand(const char *word)
{
    report_err("%s: '%s' after the gallery: options come before the gallery\n",
               program_name().c_str(), word);
}
// After the failure of a photograph that could not be read, without -k.
inline void keep_going_hint()
{
    report_err("use -k to leave unreadable photos out and make the rest\n");
}
// After the usage text: where every option is told.
inline void try_help() { report_err("Try 'vistrel --help' for every option.\n"); }
inline void not_a_directory(const std::string &path)
{
    report_err("%s: '%s' is not a directory\n", program_name().c_str(), path.c_str());
}

}  // namespace note
