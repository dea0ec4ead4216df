// What reaches a terminal: names are data, and a name may hold bytes that a
// terminal takes for commands (retitle the window, move the cursor, clear
// the screen). Output to files and pipes stays byte for byte as written.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// The text as it should go to the stream: unchanged unless the stream is a
// terminal; then every control byte but the newline, every C1 control
// character and every byte that is not part of valid UTF-8 shows as \xHH.
std::string shown_on(std::FILE *stream, std::string_view text);

// The same, for a stream known to be a terminal.
std::string terminal_safe(std::string_view text);
