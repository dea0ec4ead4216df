#include "pages/stylesheet.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "base/messages.h"

namespace {

constexpr const char *stylesheet_name = "vistrel.css";

}  // namespace

outcome place_stylesheet(const open_dir &gallery)
{
    struct stat status;
    if (stat_entry(gallery.fd.fd, stylesheet_name, status)) return {};
    // Anything but "not there" (a gallery we may not look into) is not ours
    // to settle: the pages are written all the same.
    if (errno != ENOENT) return {};
    result<output_file> out = open_output(gallery, stylesheet_name);
    if (!out.ok()) return out.error();
    std::fwrite(default_stylesheet, 1, default_stylesheet_size, out->stream());
    return finish_output(*out);
}
