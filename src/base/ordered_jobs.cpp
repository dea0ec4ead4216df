#include "base/ordered_jobs.h"

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include "base/report.h"

namespace {

struct job_log {
    report_log pieces;
    std::optional<failure> error;
    bool done = false;
};

struct ordered_state {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<job_log> logs;
    // The lowest job index that has failed so far: later jobs are moot.
    std::atomic<size_t> first_failed{std::numeric_limits<size_t>::max()};
};

thread_local const ordered_state *current_state = nullptr;
thread_local size_t current_job = 0;

void note_failure(ordered_state &state, size_t job)
{
    size_t seen = state.first_failed.load();
    while (job < seen && !state.first_failed.compare_exchange_weak(seen, job)) {
    }
}

}  // namespace

bool inside_ordered_job() { return current_state != nullptr; }

bool job_cancelled()
{
    return current_state &&
           current_state->first_failed.load(std::memory_order_relaxed) < current_job;
}

int usable_cpus()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

namespace {

// The memory budget of the jobs' large shares.
struct budget_state {
    std::mutex mutex;
    std::condition_variable released;
    size_t in_use = 0;
};

budget_state &budget()
{
    static budget_state state;
    return state;
}

}  // namespace

memory_share::memory_share(size_t bytes)
{
    if (bytes < smallest_share || !inside_ordered_job()) return;
    budget_state &b = budget();
    std::unique_lock lock(b.mutex);
    b.released.wait(lock, [&] { return b.in_use == 0 || b.in_use + bytes <= jobs_memory_budget; });
    b.in_use += bytes;
    bytes_ = bytes;
}

memory_share::~memory_share()
{
    if (bytes_ == 0) return;
    budget_state &b = budget();
    {
        std::lock_guard lock(b.mutex);
        b.in_use -= bytes_;
    }
    b.released.notify_all();
}

outcome run_ordered(size_t count, int threads, const std::function<outcome(size_t)> &job,
                    const std::vector<size_t> &start_order)
{
    ordered_state state;
    state.logs.resize(count);
    std::atomic<size_t> next{0};

    const auto worker = [&] {
        current_state = &state;
        for (size_t n; (n = next.fetch_add(1)) < count;) {
            const size_t i = start_order.empty() ? n : start_order[n];
            job_log &log = state.logs[i];
            if (i < state.first_failed.load()) {
                current_job = i;
                set_report_log(&log.pieces);
                outcome done = job(i);
                set_report_log(nullptr);
                if (!done.ok()) {
                    log.error = std::move(done.error());
                    note_failure(state, i);
                }
            }
            std::lock_guard lock(state.mutex);
            log.done = true;
            state.changed.notify_all();
        }
        current_state = nullptr;
    };
    std::vector<std::thread> pool;
    const size_t wanted = static_cast<size_t>(threads > 0 ? threads : 1);
    for (size_t t = 0; t < wanted && t < count; ++t) pool.emplace_back(worker);

    outcome result;
    for (size_t i = 0; i < count; ++i) {
        job_log &log = state.logs[i];
        {
            std::unique_lock lock(state.mutex);
            state.changed.wait(lock, [&] { return log.done; });
        }
        for (const auto &[stream, text] : log.pieces) write_out(stream, text);
        std::fflush(stdout);
        log.pieces.clear();
        if (log.error) {
            result = std::move(*log.error);
            break;
        }
    }
    // Jobs after a failure see it and stop at their next safe point.
    for (std::thread &thread : pool) thread.join();
    return result;
}
