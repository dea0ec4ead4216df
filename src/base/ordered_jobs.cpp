#include "base/ordered_jobs.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "base/messages.h"
#include "base/report.h"

namespace {

struct job_log {
    report_log pieces;
    std::optional<failure> error;
    bool done = false;
    size_t share = 0;  // bytes of its memory share
};

}  // namespace

// One run of run_ordered: what its jobs reported, and the memory they share.
// Everything but first_failed is guarded by the mutex.
struct ordered_run {
    std::mutex mutex;
    std::condition_variable changed;   // a job is done
    std::condition_variable released;  // a share shrank or ended, a turn was taken, a job failed
    std::vector<job_log> logs;
    // The lowest job index that has failed so far: later jobs are moot.
    std::atomic<size_t> first_failed{std::numeric_limits<size_t>::max()};
    // Jobs started, or about to be, that have not had their turn at the
    // budget yet, and the bytes of the shares held.
    std::set<size_t> before_turn;
    size_t in_use = 0;

    void set_share(size_t job, size_t bytes)
    {
        in_use = in_use - logs[job].share + bytes;
        logs[job].share = bytes;
    }
    void fail(size_t job)
    {
        if (job < first_failed.load()) first_failed.store(job);
    }
};

namespace {

thread_local ordered_run *current_run = nullptr;
thread_local size_t current_job = 0;

}  // namespace

bool inside_ordered_job() { return current_run != nullptr; }

bool job_cancelled()
{
    return current_run && current_run->first_failed.load(std::memory_order_relaxed) < current_job;
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

bool claim_memory(size_t bytes)
{
    ordered_run *run = current_run;
    if (!run) return true;
    const size_t job = current_job;
    std::unique_lock lock(run->mutex);
    const bool first = run->before_turn.contains(job);
    const size_t held = run->logs[job].share;
    if (bytes < smallest_share) {
        run->set_share(job, 0);
    } else if (!first && bytes <= held) {
        run->set_share(job, bytes);  // a retry that fits: no wait
    } else {
        // Waiting holds nothing, so no one waits on a job that waits.
        run->set_share(job, 0);
        if (held > 0) run->released.notify_all();
        run->released.wait(lock, [&] {
            if (job_cancelled()) return true;
            const bool my_turn = !first || run->before_turn.empty() ||
                                 *run->before_turn.begin() >= job;
            return my_turn && (run->in_use == 0 || run->in_use + bytes <= jobs_memory_budget);
        });
        if (!job_cancelled()) run->set_share(job, bytes);
    }
    run->before_turn.erase(job);
    const bool granted = !job_cancelled();
    if (!granted) run->set_share(job, 0);
    lock.unlock();
    run->released.notify_all();
    return granted;
}

outcome run_ordered(size_t count, int threads, const std::function<outcome(size_t)> &job,
                    const std::vector<size_t> &start_order,
                    const std::function<outcome(size_t)> &finish)
{
    ordered_run run;
    run.logs.resize(count);
    const auto job_at = [&](size_t n) { return start_order.empty() ? n : start_order[n]; };
    const size_t wanted = std::min(static_cast<size_t>(threads > 0 ? threads : 1), count);
    size_t next = 0;  // in start order, guarded by the mutex

    // Runs job i, its reports kept in its log; called and returns with the
    // mutex held.
    const auto run_job = [&](size_t i, std::unique_lock<std::mutex> &lock) {
        run.before_turn.insert(i);
        job_log &log = run.logs[i];
        if (i < run.first_failed.load()) {
            lock.unlock();
            current_job = i;
            set_report_log(&log.pieces);
            outcome done = job(i);
            set_report_log(nullptr);
            lock.lock();
            if (!done.ok()) {
                log.error = std::move(done.error());
                run.fail(i);
            }
        }
        log.done = true;
        run.before_turn.erase(i);
        run.set_share(i, 0);
        run.changed.notify_all();
        run.released.notify_all();
    };
    const auto worker = [&] {
        current_run = &run;
        std::unique_lock lock(run.mutex);
        while (next < count) run_job(job_at(next++), lock);
        current_run = nullptr;
    };
    std::vector<std::thread> pool;
    int start_error = 0;
    {
        // The threads wait for the mutex until it is known how many started.
        std::lock_guard lock(run.mutex);
        for (size_t t = 0; t < wanted; ++t) {
            try {
                pool.emplace_back(worker);
            } catch (const std::system_error &error) {
                // Out of processes (RLIMIT_NPROC) or memory: fewer threads
                // do the same work, written out alike.
                start_error = error.code().value();
                break;
            }
        }
        // The first jobs are known to start before any of them runs: one that
        // comes to its share at once still finds the earlier ones ahead of it.
        for (size_t n = 0; n < pool.size(); ++n) run.before_turn.insert(job_at(n));
    }
    // Said once: what keeps threads from starting lasts, and every album
    // would say it again.
    static std::atomic<bool> warned{false};
    if (pool.size() < wanted && !warned.exchange(true))
        note::threads_not_started(pool.size(), wanted, start_error);

    outcome result;
    for (size_t i = 0; i < count; ++i) {
        job_log &log = run.logs[i];
        {
            std::unique_lock lock(run.mutex);
            if (pool.empty()) {
                // No thread could start: this one takes the jobs in job
                // order, as one thread does.
                current_run = &run;
                run_job(i, lock);
                current_run = nullptr;
            }
            run.changed.wait(lock, [&] { return log.done; });
        }
        for (const auto &[stream, text] : log.pieces) write_out(stream, text);
        flush_standard_output();
        log.pieces.clear();
        if (log.error) {
            result = std::move(*log.error);
            break;
        }
        if (finish) {
            if (outcome finished = finish(i); !finished.ok()) {
                {
                    std::lock_guard lock(run.mutex);
                    run.fail(i);
                }
                run.released.notify_all();
                result = std::move(finished);
                break;
            }
        }
    }
    // Jobs after a failure see it and stop at their next safe point.
    for (std::thread &thread : pool) thread.join();
    return result;
}
