#include <unistd.h>

#include <new>
#include <string>

#include "base/report.h"
#include "run/command_line.h"
#include "run/gallery.h"

namespace {

// Exhausted memory ends the run at once, from whichever thread meets it, with
// a message that needs no memory of its own: nothing else can be trusted to
// finish. Files under their final names keep what they had.
[[noreturn]] void out_of_memory()
{
    static constexpr char text[] = ": can't malloc: Cannot allocate memory\n";
    const std::string &name = program_name();
    // What the writes return is of no use: the process ends either way. Held
    // all the same: glibc asks that write()'s result be used, and GCC takes no
    // cast to void for a use.
    [[maybe_unused]] const ssize_t name_written = write(STDERR_FILENO, name.data(), name.size());
    [[maybe_unused]] const ssize_t text_written = write(STDERR_FILENO, text, sizeof text - 1);
    _exit(1);
}

}  // namespace

int main(int argc, char **argv)
{
    set_program_name(argc > 0 && argv[0] ? argv[0] : "vistrel");
    std::set_new_handler(out_of_memory);
    const command_line parsed = parse_command_line(argc, argv);
    return run_gallery(parsed.gallery, parsed.config);
}
