#include "base/fatal.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include "base/ordered_jobs.h"
#include "base/settings.h"

void fatal(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = settings.progname + ": " + format_text(format, args);
    va_end(args);
    end_run(message);
}

void fatal_errno(const char *format, ...)
{
    const int saved = errno;
    va_list args;
    va_start(args, format);
    std::string message = settings.progname + ": " + format_text(format, args);
    va_end(args);
    message += ": ";
    message += std::strerror(saved);
    message += '\n';
    end_run(message);
}
