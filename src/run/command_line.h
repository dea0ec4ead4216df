// The command line: options into the configuration, the usage text and the
// help.
#pragma once

#include <string>

#include "base/settings.h"

struct command_line {
    settings_record config;
    std::string gallery;  // the operand
};

// The configuration the options give and the gallery operand. Ends the run
// after -v, --help, --version, an invalid argument or a wrong operand count.
command_line parse_command_line(int argc, char **argv);

// The usage text, showing the given settings, then the line that points to
// --help, on standard error.
void write_usage(const settings_record &shown);

// The usage text, then the end of the run with status 1.
[[noreturn]] void usage(const settings_record &shown);
