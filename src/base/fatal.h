// The one road out on error: a single message on standard error that starts
// with the program name, then exit status 1. Nothing is cleaned up on the way,
// so files under their final names keep their previous content.
#pragma once

#include <cstdio>

// "<progname>: " + the formatted text (which carries its own newline).
[[noreturn]] void fatal(const char *format, ...)
    __attribute__((format(printf, 1, 2)));

// "<progname>: " + the formatted text + ": " + strerror(errno) + "\n".
// errno is read before anything is formatted.
[[noreturn]] void fatal_errno(const char *format, ...)
    __attribute__((format(printf, 1, 2)));
