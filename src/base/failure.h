// Failures as values. Below the command line nothing ends the process: a
// function that meets an error returns it, everything it held is released on
// the way back up, and the run ends at the top, where the message is printed.
#pragma once

#include <string>
#include <utility>
#include <variant>

// The message of a failure that ends the run, complete with its newline but
// without the program name, which the top level puts in front.
// Work given up because an earlier job failed is a state of its own
// (stopped()): it carries no message, the earlier failure is the one the run
// reports, and it is never printed.
struct failure {
    std::string text;
    bool stop = false;
    // The photograph itself could not be opened or decoded: a run that keeps
    // going (-k) leaves it out and goes on; any other failure ends it.
    bool photo_unreadable = false;

    static failure stopped()
    {
        failure stopped;
        stopped.stop = true;
        return stopped;
    }
    bool is_stop() const { return stop; }
};

// A value, or the failure that kept it from being made.
template <class T = std::monostate>
class [[nodiscard]] result {
public:
    result() = default;
    result(T value) : state_(std::move(value)) {}
    result(failure error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    T &operator*() { return std::get<0>(state_); }
    const T &operator*() const { return std::get<0>(state_); }
    T *operator->() { return &std::get<0>(state_); }
    const T *operator->() const { return &std::get<0>(state_); }
    failure &error() { return std::get<1>(state_); }
    const failure &error() const { return std::get<1>(state_); }

private:
    std::variant<T, failure> state_;
};

// Done, or the failure: for work that makes no value.
using outcome = result<>;
