// The album's cache directories, one per derived image.
#pragma once

#include <string>

// Makes sure every cache directory of the album is a directory, creating
// the missing ones; anything else in their place ends the run.
void ensure_cache_dirs(const std::string &album_path);
