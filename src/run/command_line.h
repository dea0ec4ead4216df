// The command line: options into settings, and the usage text.
#pragma once

#include <string>

// Fills settings from the command line and returns the gallery operand.
// Ends the run after -v, an invalid argument or a wrong operand count.
std::string parse_command_line(int argc, char **argv);

// Writes the usage text, showing the current settings, and ends with status 1.
[[noreturn]] void usage();
