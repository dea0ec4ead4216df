#include "run/fatal.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include "run/ordered_jobs.h"
#include "run/settings.h"

namespace {

std::string format_message(const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

}  // namespace

void fatal(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = settings.progname + ": " + format_message(format, args);
    va_end(args);
    end_run(message);
}

void fatal_errno(const char *format, ...)
{
    const int saved = errno;
    va_list args;
    va_start(args, format);
    std::string message = settings.progname + ": " + format_message(format, args);
    va_end(args);
    message += ": ";
    message += std::strerror(saved);
    message += '\n';
    end_run(message);
}
