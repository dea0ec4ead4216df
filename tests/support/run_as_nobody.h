// Permission failures cannot be shown to root, who reads and writes
// everything: these run the binary as an unprivileged user instead.
#pragma once

#include <sys/resource.h>

#include <string>
#include <vector>

#include "support/run_vistrel.h"

// Runs vistrel as the user "nobody" when the tests run as root, else as
// the current user. Paths it is given must be reachable for that user.
run_result run_vistrel_as_nobody(const std::vector<std::string> &args);

// Runs vistrel with at most `processes` processes and threads of its user
// (RLIMIT_NPROC, which root is exempt from). When the tests run as root, it
// runs as a user of its own that no other process has (not nobody, whom
// other tests run as meanwhile), so it can start exactly processes - 1
// threads; otherwise as the current user, whose other processes count too.
// Paths it is given must be reachable and writable for every user.
run_result run_vistrel_with_process_limit(const std::vector<std::string> &args, rlim_t processes);

// Opens a test's directory to every user, so nobody can reach into it.
void open_to_everyone(const std::string &dir);
