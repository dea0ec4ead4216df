#include <cerrno>
#include <new>

#include "album/image_info.h"
#include "run/fatal.h"
#include "run/settings.h"

int main(int argc, char **argv)
{
    settings.progname = argc > 0 && argv[0] ? argv[0] : "vistrel";
    settings.image_order = compare_name;
    // Exhausted memory ends the run like every other error.
    std::set_new_handler([] {
        errno = ENOMEM;
        fatal_errno("can't malloc");
    });
    run_gallery(parse_command_line(argc, argv));
}
