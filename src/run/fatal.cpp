#include "run/fatal.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "run/settings.h"

void fatal(const char *format, ...)
{
    std::fprintf(stderr, "%s: ", settings.progname.c_str());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::exit(1);
}

void fatal_errno(const char *format, ...)
{
    const int saved = errno;
    std::fprintf(stderr, "%s: ", settings.progname.c_str());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, ": %s\n", std::strerror(saved));
    std::exit(1);
}
