// The gallery's stylesheet, vistrel.css, which every page links to: the
// default one is built into the program and written where none is.
#pragma once

#include <cstddef>

#include "base/failure.h"
#include "base/files.h"

// The default stylesheet's bytes (share/vistrel.css when built).
extern const unsigned char default_stylesheet[];
extern const size_t default_stylesheet_size;

// Writes the default stylesheet into the gallery held open when it has no
// vistrel.css, as every page is written (a temporary file renamed into
// place). Whatever is there under that name, a symbolic link included, is
// the owner's: left alone, and not followed.
[[nodiscard]] outcome place_stylesheet(const open_dir &gallery);
