// What reaches a terminal: names are data, and a name may hold bytes that a
// terminal takes for commands (retitle the window, move the cursor, clear
// the screen). Output to files and pipes stays byte for byte as written.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Whether the stream is a terminal; asked of the system once per stream.
bool is_terminal(std::FILE *stream);

// One line of text as a terminal should get it: every control byte but the
// newline that ends it, every C1 control character, the line and paragraph
// separators (U+2028, U+2029) and every byte that is not part of valid
// UTF-8 show as \xHH, so that a name can neither command the terminal nor
// seem to start a line of its own.
std::string terminal_safe(std::string_view line);
