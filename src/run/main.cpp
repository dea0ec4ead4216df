#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/settings.h"
#include "run/command_line.h"
#include "run/gallery.h"

int main(int argc, char **argv)
{
    settings.progname = argc > 0 && argv[0] ? argv[0] : "vistrel";
    // Exhausted memory ends the run like every other error, with a message
    // that needs no memory of its own.
    std::set_new_handler([] {
        std::fprintf(stderr, "%s: can't malloc: %s\n", settings.progname.c_str(), std::strerror(ENOMEM));
        std::exit(1);
    });
    run_gallery(parse_command_line(argc, argv));
}
