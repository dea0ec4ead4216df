// Failures as values. Below the command line nothing ends the process: a
// function that meets an error returns it, everything it held is released on
// the way back up, and the run ends at the top, where the message is printed.
#pragma once

#include <string>
#include <utility>
#include <variant>

// What kind of failure it is, for the caller that decides what follows.
enum class failure_kind {
    ends_run,    // the run ends with its message
    stopped,     // work given up because an earlier job failed: no message
    bad_input,   // the file being read is itself at fault (not the system):
                 // a caller that can leave that file out may go on
    not_closed,  // the work was done, but closing what it read failed
    bad_album,   // the album itself is at fault (a cache directory that is
                 // no directory, or that the run may not make): the run
                 // may leave that album out and go on
    in_the_way,  // an output's name, or its temporary name, is taken by
                 // what the run may not remove (a directory): whoever owns
                 // the directory it was written into is at fault
};

// The message of a failure, complete with its newline but without the
// program name, which the top level puts in front. Work given up because an
// earlier job failed (stopped()) carries no message: the earlier failure is
// the one the run reports, and it is never printed.
struct failure {
    std::string text;
    failure_kind kind = failure_kind::ends_run;

    static failure stopped()
    {
        failure stopped;
        stopped.kind = failure_kind::stopped;
        return stopped;
    }
    bool is_stop() const { return kind == failure_kind::stopped; }
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
