// Parallel work that reads as if it ran in order: jobs run on several
// threads, while everything they report reaches standard output and
// standard error in job order, byte for byte what one thread would write.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Runs job(0) .. job(count - 1) on up to `threads` threads and writes out
// what each reported, in job order, as each job and those before it are
// done. When a job ends the run (fatal), the run ends with status 1 once the
// jobs before it have been written out, exactly where one thread would have.
// `start_order`, when given, is the order in which the jobs are started (a
// permutation of 0 .. count - 1): the longest first keeps every thread busy
// to the end. What is written out follows job order all the same.
void run_ordered(size_t count, int threads, const std::function<void(size_t)> &job,
                 const std::vector<size_t> &start_order = {});

// True on a job thread of run_ordered.
bool inside_ordered_job();

// The CPUs this process may run on: the number of jobs that keeps them busy.
int usable_cpus();

// Memory that the jobs share. A job about to claim a large amount takes its
// share first, waiting while others hold the budget, so that several large
// claims at once cannot add up beyond it; a share larger than the whole
// budget is granted only while no other is held, one at a time. Shares below
// smallest_share, and all shares outside a job, are granted at once. The
// share ends with its owner, or when its job ends the run.
inline constexpr size_t smallest_share = size_t{64} << 20;
inline constexpr size_t jobs_memory_budget = size_t{1} << 30;

class memory_share {
public:
    explicit memory_share(size_t bytes);
    ~memory_share();
    memory_share(const memory_share &) = delete;
    memory_share &operator=(const memory_share &) = delete;

private:
    size_t bytes_ = 0;
};

// A progress line for standard output, or a note for standard error: written
// at once, or kept in the job's log on a job thread. On a terminal, control
// bytes in what is written show as \xHH.
void report_out(const char *format, ...) __attribute__((format(printf, 1, 2)));
void report_err(const char *format, ...) __attribute__((format(printf, 1, 2)));

// printf into a string.
std::string format_text(const char *format, va_list args);

// Writes the complete message to standard error and ends the run with
// status 1; on a job thread, the message waits for its turn.
[[noreturn]] void end_run(const std::string &message);
