// Parallel work that reads as if it ran in order: jobs run on several
// threads, while everything they report reaches standard output and
// standard error in job order, byte for byte what one thread would write.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "base/failure.h"

// Runs job(0) .. job(count - 1) on up to `threads` threads and writes out
// what each reported, in job order, as each job and those before it are
// done. The first job in job order that fails ends the work exactly where
// one thread would have: the jobs before it still run and are written out,
// the jobs after it are not started, or are told to stop (job_cancelled),
// and what they reported is dropped. Its failure is returned, unwritten.
// `start_order`, when given, is the order in which the jobs are started (a
// permutation of 0 .. count - 1): the longest first keeps every thread busy
// to the end. What is written out follows job order all the same.
outcome run_ordered(size_t count, int threads, const std::function<outcome(size_t)> &job,
                    const std::vector<size_t> &start_order = {});

// True on a job thread of run_ordered.
bool inside_ordered_job();

// True when the job running on this thread comes after a failed one: its
// work will be thrown away, so it may stop early. Never true outside a job.
bool job_cancelled();

// The CPUs this process may run on: the number of jobs that keeps them busy.
int usable_cpus();

// Memory that the jobs share. A job about to hold a large amount takes its
// share first, waiting while others hold the budget, so that several large
// claims at once cannot add up beyond it; a share larger than the whole
// budget is granted only while no other is held, one at a time. Turns go in
// job order, as one thread would take them: a job's first share, of any
// size, is its turn, and a large share waits while an earlier job that has
// started has not yet had its turn, so a later job started first cannot
// hold memory beside an earlier one that will fail. A job told to stop
// while it waits gets no share (see job_cancelled). Shares below
// smallest_share, and all shares outside a job, are granted at once. A job
// holds one share at a time; the share ends with its owner, on every road
// out, but counts against the other jobs until its job is done, so that
// they learn of a failure before they can use the memory it gave back.
inline constexpr size_t smallest_share = size_t{64} << 20;
inline constexpr size_t jobs_memory_budget = size_t{1} << 30;

struct ordered_run;

class memory_share {
public:
    memory_share() = default;
    explicit memory_share(size_t bytes);
    ~memory_share();
    memory_share(memory_share &&other) noexcept;
    memory_share &operator=(memory_share &&other) noexcept;

private:
    void release();

    ordered_run *run_ = nullptr;
    size_t job_ = 0;
    size_t bytes_ = 0;
};
