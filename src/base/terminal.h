// What reaches a terminal: names are data, and a name may hold bytes that a
// terminal takes for commands (retitle the window, move the cursor, clear
// the screen). Output to files and pipes stays byte for byte as written.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Whether the stream is a terminal; asked of the system once per stream.
bool is_terminal(std::FILE *stream);

// The text as a terminal should get it: every control byte but the newline,
// every C1 control character and every byte that is not part of valid UTF-8
// shows as \xHH.
std::string terminal_safe(std::string_view text);
