#include "base/ordered_jobs.h"

#include <sched.h>

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "base/terminal.h"

namespace {

struct job_log {
    std::vector<std::pair<std::FILE *, std::string>> pieces;
    bool done = false;
    bool failed = false;
};

struct ordered_state {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<job_log> logs;
    std::function<void()> worker;  // the loop each thread runs
};

thread_local job_log *current_log = nullptr;
thread_local ordered_state *current_state = nullptr;

}  // namespace

std::string format_text(const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

namespace {

void write_out(std::FILE *stream, const std::string &text)
{
    std::fputs(is_terminal(stream) ? terminal_safe(text).c_str() : text.c_str(), stream);
}

void vreport(std::FILE *stream, const char *format, va_list args)
{
    if (current_log)
        current_log->pieces.emplace_back(stream, format_text(format, args));
    else
        write_out(stream, format_text(format, args));
}

void finish_job(ordered_state &state, job_log &log, bool failed)
{
    std::lock_guard lock(state.mutex);
    log.done = true;
    log.failed = failed;
    state.changed.notify_all();
}

}  // namespace

bool inside_ordered_job() { return current_log != nullptr; }

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

thread_local size_t held_by_this_thread = 0;

void release_share(size_t bytes)
{
    if (bytes == 0) return;
    budget_state &b = budget();
    {
        std::lock_guard lock(b.mutex);
        b.in_use -= bytes;
        held_by_this_thread -= bytes;
    }
    b.released.notify_all();
}

}  // namespace

memory_share::memory_share(size_t bytes)
{
    if (bytes < smallest_share || !inside_ordered_job()) return;
    budget_state &b = budget();
    std::unique_lock lock(b.mutex);
    b.released.wait(lock, [&] { return b.in_use == 0 || b.in_use + bytes <= jobs_memory_budget; });
    b.in_use += bytes;
    held_by_this_thread += bytes;
    bytes_ = bytes;
}

memory_share::~memory_share() { release_share(bytes_); }

void report_out(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vreport(stdout, format, args);
    va_end(args);
}

void report_err(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vreport(stderr, format, args);
    va_end(args);
}

void end_run(const std::string &message)
{
    if (!current_log) {
        write_out(stderr, message);
        std::exit(1);
    }
    // The writer ends the process when it reaches this job; until then this
    // thread holds still, keeping its files as they are, and a new thread
    // takes its place: jobs before this one may not even have started.
    current_log->pieces.emplace_back(stderr, message);
    // A job that holds still must not keep others waiting for memory.
    release_share(held_by_this_thread);
    ordered_state &state = *current_state;
    finish_job(state, *current_log, true);
    std::thread(state.worker).detach();
    for (;;) pause();
}

void run_ordered(size_t count, int threads, const std::function<void(size_t)> &job,
                 const std::vector<size_t> &start_order)
{
    ordered_state state;
    state.logs.resize(count);
    std::atomic<size_t> next{0};

    state.worker = [&] {
        current_state = &state;
        for (size_t n; (n = next.fetch_add(1)) < count;) {
            const size_t i = start_order.empty() ? n : start_order[n];
            current_log = &state.logs[i];
            job(i);
            current_log = nullptr;
            finish_job(state, state.logs[i], false);
        }
        current_state = nullptr;
    };
    std::vector<std::thread> pool;
    const size_t wanted = static_cast<size_t>(threads > 0 ? threads : 1);
    for (size_t t = 0; t < wanted && t < count; ++t) pool.emplace_back(state.worker);

    for (size_t i = 0; i < count; ++i) {
        job_log &log = state.logs[i];
        {
            std::unique_lock lock(state.mutex);
            state.changed.wait(lock, [&] { return log.done; });
        }
        for (const auto &[stream, text] : log.pieces) write_out(stream, text);
        if (log.failed) {
            // Other jobs may be mid-way: leave at once, without running
            // destructors under their feet. Files they are writing are still
            // under temporary names.
            std::fflush(stdout);
            std::fflush(stderr);
            _exit(1);
        }
        std::fflush(stdout);
        log.pieces.clear();
    }
    // Only reached when no job failed: every thread has run out of jobs.
    for (std::thread &thread : pool) thread.join();
}
