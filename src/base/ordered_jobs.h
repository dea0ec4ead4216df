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
// `finish`, when given, completes a job on the thread that writes out: it
// runs for job i right after job i's reports are written, and only when job
// i and every job before it succeeded, so that what it makes lasting (files
// put in place) is exactly what one thread would have left. A failure there
// is job i's own. When fewer threads than asked for can be started, the
// jobs run on those that could, and with none on the calling thread; the
// first time, a warning on standard error says so. What is written out
// stays the same.
outcome run_ordered(size_t count, int threads, const std::function<outcome(size_t)> &job,
                    const std::vector<size_t> &start_order = {},
                    const std::function<outcome(size_t)> &finish = {});

// True on a job thread of run_ordered.
bool inside_ordered_job();

// True when the job running on this thread comes after a failed one: its
// work will be thrown away, so it may stop early (returning
// failure::stopped()). Never true outside a job.
bool job_cancelled();

// The CPUs this process may run on: the number of jobs that keeps them busy.
int usable_cpus();

// Memory that the jobs share. A job about to hold a large amount claims it
// first, waiting while others hold the budget, so that several large claims
// at once cannot add up beyond it; a share larger than the whole budget is
// granted only while no other is held.
//
// The rules:
// - A job has one share, from its first claim until it is done; run_ordered
//   ends it, under the same lock that records the job's failure, so no
//   later job can take the memory before it learns of that failure.
// - A claim sets the job's share to the bytes asked. Asking no more than the
//   share holds (a retry that needs the same or less) shrinks it at once,
//   without waiting. Asking more first gives the whole share back, then
//   waits as one holding nothing: the caller has freed what the old share
//   covered before it asks.
// - Turns go in job order, as one thread would take them: a job's first
//   claim, of any size, is its turn, and a first large claim waits while an
//   earlier job that has started has not yet had its turn, so a later job
//   started first cannot hold memory beside an earlier one that will fail.
//   Only first claims wait for turns.
// - Claims below smallest_share, and all claims outside a job, are granted at
//   once and hold nothing.
//
// Why no wait can close a circle: a job waits either for memory, holding
// none, or for its first turn, holding none and having claimed nothing. So
// every share is held by a job that is running, not waiting: memory waits
// depend only on running jobs, which end or give their share back. A turn
// wait depends on an earlier job's first claim; the earliest job still
// before its turn waits for no turn, only for memory, so turns are taken in
// order. Every chain of waits ends at a running job.
inline constexpr size_t smallest_share = size_t{64} << 20;
inline constexpr size_t jobs_memory_budget = size_t{1} << 30;

// Sets the calling job's share to `bytes` as above: true once it holds it,
// false when the job was told to stop while it waited (it holds nothing then).
[[nodiscard]] bool claim_memory(size_t bytes);
