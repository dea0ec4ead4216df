// Permission failures cannot be shown to root, who reads and writes
// everything: these run the binary as an unprivileged user instead.
#pragma once

#include <string>
#include <vector>

#include "support/run_vistrel.h"

// Runs vistrel as the user "nobody" when the tests run as root, else as
// the current user. Paths it is given must be reachable for that user.
run_result run_vistrel_as_nobody(const std::vector<std::string> &args);

// Opens a test's directory to every user, so nobody can reach into it.
void open_to_everyone(const std::string &dir);
