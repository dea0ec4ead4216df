// Every message that ends a run or warns about one image, in one place. Each
// is a function, so its text is a literal checked against its arguments, and
// one can be handed to a lower layer by name. Failures leave out the program
// name: the top level adds it.
#pragma once

#include <cerrno>
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
inline failure cant_resize(const std::string &name)
{
    return errno_failure("can't resize image '%s'", name.c_str());
}

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

// A HEIF or AVIF file whose boxes do not tell what libheif would decode.
inline failure heif_layout_unreadable(const std::string &path, const std::string &why)
{
    return failure_text("%s: can't tell the size it decodes to: %s\n", path.c_str(), why.c_str());
}

// A picture whose decode would hold more than is ever granted.
inline failure too_large_to_decode(const std::string &path, int32_t width, int32_t height)
{
    return failure_text("%s: too large to decode: %dx%d pixels\n", path.c_str(), width, height);
}

inline failure too_high(const std::string &path, int32_t height, int32_t largest)
{
    return failure_text(
        "can't scale '%s' to a height of %d pixels: JPEG images are at most %d pixels high\n",
        path.c_str(), height, largest);
}
inline failure too_wide(const std::string &path, int32_t height, double width, int32_t largest)
{
    return failure_text(
        "can't scale '%s' to a height of %d pixels: it would be %.0f pixels wide, and JPEG "
        "images are at most %d pixels wide\n",
        path.c_str(), height, width, largest);
}

// A HEIF or AVIF file whose stated size holds no pixel, or whose picture
// decodes to another size than the one its header states (and the pages
// would show).
inline failure no_stated_size(const std::string &path, int32_t width, int32_t height)
{
    return failure_text("%s: its header states a picture of %dx%d pixels\n", path.c_str(), width,
                        height);
}
inline failure decoded_size_differs(const std::string &path, uint32_t width, uint32_t height,
                                    int32_t stated_width, int32_t stated_height)
{
    return failure_text("%s: decodes to %ux%u pixels, not the %dx%d its header states\n",
                        path.c_str(), width, height, stated_width, stated_height);
}

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

// Standard output that took no more of what the run said (a full disk):
// the errno of the first write that failed.
inline failure cant_write_standard_output(int error)
{
    return failure_text("can't write to standard output: %s\n", std::strerror(error));
}

// The end of a run that kept going (-k) past photographs it could not read.
inline failure photos_unreadable(int32_t photos)
{
    return failure_text("%d photo%s could not be read\n", photos, photos == 1 ? "" : "s");
}

}  // namespace message

// Progress on standard output and notes on standard error, which never end
// the run. Orphan removal's lines carry no program name.
namespace note {

inline void directory(const std::string &path) { report_out("Directory %s\n", path.c_str()); }
inline void image(const std::string &path) { report_out("Image %s\n", path.c_str()); }
inline void index_pages_created(int32_t pages)
{
    report_out("%d thumbnail index pages created.\n", pages);
}
inline void album_processed(int32_t images, const std::string &name)
{
    report_out("%d image%s processed in album '%s'.\n", images, images == 1 ? "" : "s",
               name.c_str());
}
inline void albums_processed(int32_t albums)
{
    report_out("%d album%s processed.\n", albums, albums == 1 ? "" : "s");
}

// A quiet run (-q): a line per photograph whose derived files were made,
// and one summary line at the end.
inline void made(const std::string &path) { report_out("made %s\n", path.c_str()); }
inline void run_summary(int32_t albums, int32_t photos, int32_t made, int32_t fresh,
                        int32_t deleted, double seconds)
{
    report_out("%d album%s, %d photo%s: %d made, %d fresh, %d deleted in %.1f s\n", albums,
               albums == 1 ? "" : "s", photos, photos == 1 ? "" : "s", made, fresh, deleted,
               seconds);
}

inline void no_exif(const std::string &name)
{
    report_err("   %s: no EXIF data found\n", name.c_str());
}
inline void changed_while_read(const std::string &name)
{
    report_err("   %s: changed while it was read, reading it again\n", name.c_str());
}
inline void gone_while_read(const std::string &name)
{
    report_err("   %s: gone while the album was read, left out\n", name.c_str());
}
inline void still_changing(const std::string &name)
{
    report_err("   %s: still changing, its derived images are left for the next run\n",
               name.c_str());
}
inline void derived_names_taken(const std::string &name, const std::string &owner)
{
    report_err("   %s: its derived names belong to %s, skipped\n", name.c_str(), owner.c_str());
}
inline void description_cut(const std::string &path, uint64_t mebibytes)
{
    report_err("   %s: longer than %llu MiB, the rest is ignored\n", path.c_str(),
               static_cast<unsigned long long>(mebibytes));
}
inline void not_a_regular_file(const std::string &path)
{
    report_err("   %s: not a regular file, ignored\n", path.c_str());
}
// A codec's warning about damaged data, naming the file.
inline void codec_warning(const std::string &path, const char *text)
{
    report_err("%s: %s: %s\n", program_name().c_str(), path.c_str(), text);
}

// A colour profile not carried into the derived images, and why.
inline void profile_left_out(const std::string &path, const std::string &why)
{
    report_err("%s: %s: colour profile left out: %s\n", program_name().c_str(), path.c_str(),
               why.c_str());
}

inline void deleted_orphan(const std::string &path)
{
    report_out("deleted orphan %s\n", path.c_str());
}
inline void orphans_unreadable(const std::string &path)
{
    report_out("can't opendir(%s)\n", path.c_str());
}
inline void orphan_kept(const std::string &path) { report_err("can't unlink(%s)\n", path.c_str()); }
inline void orphans_unclosed(const std::string &path)
{
    report_err("can't closedir(%s)\n", path.c_str());
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
