// Runs the built vistrel binary as a user would, capturing both streams.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct run_result {
    int status = -1;  // exit status, or -1 when the process did not exit
    std::string out;
    std::string err;
};

// Runs the binary with argv[0] exactly as given, then the arguments.
run_result run_program(const std::string &argv0, const std::vector<std::string> &args);

// Runs the vistrel built with these tests, invoked as "vistrel".
run_result run_vistrel(const std::vector<std::string> &args);

// Runs the vistrel built with these tests with standard output into the
// given file (such as /dev/full), which is not read back: `out` stays empty.
run_result run_vistrel_into(const std::string &out_path, const std::vector<std::string> &args);

// The path of the vistrel binary under test.
const std::string &vistrel_binary();

// Runs any executable by its path (argv[0] is that path), capturing both
// streams. The program runs in a process group of its own; when it has not
// ended after timeout_seconds, the whole group is killed and the status is -1.
run_result run_command(const std::string &path, const std::vector<std::string> &args,
                       int timeout_seconds);

// Starts the vistrel under test, invoked as "vistrel", without waiting for
// it; its standard streams go to /dev/null. The caller signals and reaps the
// returned process.
pid_t start_vistrel(const std::vector<std::string> &args);

// Starts the vistrel under test as start_vistrel does and stops it (SIGSTOP)
// once `sign` exists: the run is caught mid-way, holding what it holds then,
// such as the gallery's lock. -1, with a test failure, when it ended first.
pid_t start_and_stop_at(const std::vector<std::string> &args, const std::string &sign);

// Lets a stopped run go on and waits for it: its exit status, or -1 when it
// did not exit.
int resume_and_wait(pid_t pid);
