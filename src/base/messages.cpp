#include "base/messages.h"

#include <cstdarg>
#include <cstring>

#include "base/report.h"

failure failure_text(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    failure made{format_text(format, args)};
    va_end(args);
    return made;
}

failure errno_failure(const char *format, ...)
{
    const int saved = errno;
    va_list args;
    va_start(args, format);
    failure made{format_text(format, args)};
    va_end(args);
    made.text += ": ";
    made.text += std::strerror(saved);
    made.text += '\n';
    return made;
}
