#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

// A standard descriptor the run was started without is opened on
// /dev/null: otherwise the first file the run opens would take its number,
// and progress lines or messages would be written into a derived image.
void open_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int null = open("/dev/null", O_RDWR);
        if (null != fd) _exit(1);  // the lowest free number: fd itself, or nothing can be trusted
    }
}

}  // namespace

int main(int argc, char **argv)
{
    open_standard_descriptors();
    set_program_name(argc > 0 && argv[0] ? argv[0] : "vistrel");
    std::set_new_handler(out_of_memory);
    const command_line parsed = parse_command_line(argc, argv);
    return run_gallery(parsed.gallery, parsed.config);
}
