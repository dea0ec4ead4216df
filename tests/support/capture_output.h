// What a piece of in-process code writes to standard output and standard
// error, caught at the file descriptors so that stdio and direct writes
// both count.
#pragma once

#include <functional>
#include <string>

struct captured_output {
    std::string out;
    std::string err;
};

captured_output capture_output(const std::function<void()> &code);
