// Runs the built vistrel binary as a user would, capturing both streams.
#pragma once

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

// The path of the vistrel binary under test.
const std::string &vistrel_binary();
