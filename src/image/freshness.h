// The cache rule: a derived file is rebuilt only when it is stale.
#pragma once

#include <sys/stat.h>

#include <string>

// Whether a derived file exists, is no symbolic link, and is not older, in
// whole seconds, than the source whose status is given.
bool is_fresh(const std::string &derived_path, const struct stat &source);
