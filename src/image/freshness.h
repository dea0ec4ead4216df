// The cache rule: a derived file is rebuilt only when it is stale.
#pragma once

#include <sys/stat.h>

#include <string>

#include "base/failure.h"
#include "base/files.h"

// Whether the derived file `name` in its cache directory exists, is a
// regular file (no symbolic link, no directory), and is not older, in whole seconds, than the
// source whose status is given. Fails with "can't stat(%s)" when the system cannot tell.
result<bool> is_fresh(const open_dir &cache, const std::string &name, const struct stat &source);
