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

// A progress line for standard output, or a note for standard error: written
// at once, or kept in the job's log on a job thread.
void report_out(const char *format, ...) __attribute__((format(printf, 1, 2)));
void report_err(const char *format, ...) __attribute__((format(printf, 1, 2)));

// printf into a string.
std::string format_text(const char *format, va_list args);

// Writes the complete message to standard error and ends the run with
// status 1; on a job thread, the message waits for its turn.
[[noreturn]] void end_run(const std::string &message);
