#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "album/image_info.h"
#include "run/settings.h"

int main(int argc, char **argv)
{
    settings.progname = argc > 0 && argv[0] ? argv[0] : "vistrel";
    settings.image_order = compare_name;
    // Exhausted memory ends the run like every other error, with a message
    // that needs no memory of its own.
    std::set_new_handler([] {
        std::fprintf(stderr, "%s: can't malloc: %s\n", settings.progname.c_str(), std::strerror(ENOMEM));
        std::exit(1);
    });
    run_gallery(parse_command_line(argc, argv));
}
