// Jobs on several threads, written out as one thread would have, and the
// memory shares they take. Every case that could wait forever runs under a
// watchdog: a wait that never ends fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "base/ordered_jobs.h"
#include "base/report.h"
#include "support/capture_output.h"

namespace {

// Runs body on a thread of its own; when it has not returned after the
// deadline, the test program ends with a failure (the stuck thread cannot be
// joined, and waiting on would hang the test).
void within_deadline(const std::string &what, const std::function<void()> &body)
{
    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    std::thread runner([&] {
        body();
        finished.set_value();
    });
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        std::fprintf(stderr, "%s: still waiting after 20 s, a deadlock\n", what.c_str());
        std::fflush(stderr);
        _exit(1);
    }
    runner.join();
}

// A flag one thread raises and others wait for: ordering without sleeps.
struct signal_flag {
    std::atomic<bool> raised{false};
    void raise()
    {
        raised = true;
        raised.notify_all();
    }
    void await() const { raised.wait(false); }
};

TEST(ordered_jobs, output_follows_job_order_whatever_the_start_order)
{
    const std::vector<size_t> backwards = {7, 6, 5, 4, 3, 2, 1, 0};
    for (int threads : {1, 2, 5}) {
        const captured_output output = capture_output([&] {
            const outcome done = run_ordered(
                8, threads,
                [](size_t i) {
                    report_out("job %zu\n", i);
                    if (i % 3 == 0) report_err("note %zu\n", i);
                    report_out("job %zu done\n", i);
                    return outcome{};
                },
                backwards);
            EXPECT_TRUE(done.ok());
        });
        const std::string &out = output.out;
        const std::string &err = output.err;
        std::string expected_out, expected_err;
        for (size_t i = 0; i < 8; ++i) {
            expected_out += "job " + std::to_string(i) + "\njob " + std::to_string(i) + " done\n";
            if (i % 3 == 0) expected_err += "note " + std::to_string(i) + "\n";
        }
        EXPECT_EQ(out, expected_out) << threads << " threads";
        EXPECT_EQ(err, expected_err) << threads << " threads";
    }
}

// Every thread may stop at a failing job before the earlier jobs have even
// started: the earlier jobs still run, the first failure in job order is the
// one returned, after the output of the jobs before it, and what later jobs
// reported is dropped.
TEST(ordered_jobs, failures_taken_first_still_end_the_work_in_order)
{
    for (int threads : {1, 2, 4}) {
        outcome done;
        const captured_output output = capture_output([&] {
            done = run_ordered(6, threads,
                               [&](size_t i) -> outcome {
                                   report_out("job %zu\n", i);
                                   if (i >= 3)
                                       return failure{"job " + std::to_string(i) + " failed\n"};
                                   return {};
                               },
                               {5, 4, 3, 0, 1, 2});
        });
        ASSERT_FALSE(done.ok()) << threads;
        EXPECT_EQ(done.error().text, "job 3 failed\n") << threads;
        EXPECT_EQ(output.out, "job 0\njob 1\njob 2\njob 3\n") << threads;
        EXPECT_EQ(output.err, "") << threads;
    }
}

// A job after a failed one is told to stop, and the work ends without
// waiting for it to finish on its own; no thread is left behind.
TEST(ordered_jobs, jobs_after_a_failure_are_told_to_stop)
{
    within_deadline("told to stop", [] {
        std::atomic<bool> told{false};
        const outcome done = run_ordered(2, 2,
                                         [&](size_t i) -> outcome {
                                             if (i == 0) return failure{"first failed\n"};
                                             while (!job_cancelled()) std::this_thread::yield();
                                             told = true;
                                             return failure::stopped();
                                         },
                                         {1, 0});
        ASSERT_FALSE(done.ok());
        EXPECT_EQ(done.error().text, "first failed\n");
        EXPECT_FALSE(done.error().is_stop());
        EXPECT_TRUE(told);
        EXPECT_FALSE(job_cancelled());
    });
}

// finish completes the jobs in job order on the writing thread, after each
// one's reports, and never for a job at or after a failure, whichever
// thread got there first.
TEST(ordered_jobs, finish_runs_in_order_only_while_every_job_succeeded)
{
    for (int threads : {1, 2, 4}) {
        for (const size_t failing : {size_t{2}, size_t{9}}) {
            std::vector<size_t> finished;
            outcome done;
            const captured_output output = capture_output([&] {
                done = run_ordered(
                    6, threads,
                    [&](size_t i) -> outcome {
                        report_out("job %zu\n", i);
                        if (i == failing) return failure{"failed\n"};
                        return {};
                    },
                    {5, 4, 3, 2, 1, 0},
                    [&](size_t i) -> outcome {
                        report_out("finish %zu\n", i);
                        finished.push_back(i);
                        if (i == 4) return failure{"finish 4 failed\n"};
                        return {};
                    });
            });
            ASSERT_FALSE(done.ok());
            if (failing == 2) {
                EXPECT_EQ(done.error().text, "failed\n");
                EXPECT_EQ(finished, (std::vector<size_t>{0, 1}));
                EXPECT_EQ(output.out, "job 0\nfinish 0\njob 1\nfinish 1\njob 2\n");
            } else {
                EXPECT_EQ(done.error().text, "finish 4 failed\n");
                EXPECT_EQ(finished, (std::vector<size_t>{0, 1, 2, 3, 4}));
            }
        }
    }
}

TEST(ordered_jobs, outside_a_job_reports_go_straight_out)
{
    EXPECT_FALSE(inside_ordered_job());
    EXPECT_EQ(capture_output([] { report_out("plain %d\n", 1); }).out, "plain 1\n");
    EXPECT_TRUE(claim_memory(jobs_memory_budget * 4));  // nothing to share with
}

// Large shares are never held by two jobs at once when together they pass
// the budget; shares within it are held side by side (the latch opens only
// when all four hold theirs at once).
TEST(ordered_jobs, memory_shares_beyond_the_budget_are_taken_one_at_a_time)
{
    within_deadline("side by side", [] {
        std::latch all_holding(4);
        const outcome done = run_ordered(4, 4, [&](size_t) {
            EXPECT_TRUE(claim_memory(jobs_memory_budget / 4));
            all_holding.arrive_and_wait();
            return outcome{};
        });
        EXPECT_TRUE(done.ok());
    });
    within_deadline("one at a time", [] {
        std::atomic<int> holding{0}, most{0};
        std::latch all_asking(4);
        const outcome done = run_ordered(4, 4, [&](size_t) {
            all_asking.arrive_and_wait();  // every job asks before any has finished
            EXPECT_TRUE(claim_memory(jobs_memory_budget + 1));
            const int now = ++holding;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            for (int k = 0; k < 1000; ++k) std::this_thread::yield();
            --holding;
            return outcome{};
        });
        EXPECT_TRUE(done.ok());
        EXPECT_EQ(most, 1);
    });
}

// Shares are taken in job order, as one thread would: later jobs started
// first (as the largest are) wait for an earlier one that has started to
// have its turn, so none holds memory beside an earlier job that fails, and
// they are told to stop without their share. Jobs that take no share keep
// no one waiting.
TEST(ordered_jobs, memory_shares_are_taken_in_job_order)
{
    for (int threads : {2, 4}) {
        within_deadline("in job order", [threads] {
            std::atomic<int> later_held{0}, cancelled{0}, asking{0};
            const outcome done =
                run_ordered(5, threads,
                            [&](size_t i) -> outcome {
                                if (i == 0) {
                                    // Only once the later jobs running beside it asked for theirs.
                                    while (asking < threads - 1) std::this_thread::yield();
                                    EXPECT_TRUE(claim_memory(jobs_memory_budget + 1));
                                    return failure{"job 0 failed\n"};
                                }
                                ++asking;
                                if (claim_memory(i % 2 ? jobs_memory_budget + 1 : smallest_share))
                                    ++later_held;
                                else
                                    ++cancelled;
                                return job_cancelled() ? failure::stopped() : outcome{};
                            },
                            {4, 0, 3, 2, 1});
            ASSERT_FALSE(done.ok());
            EXPECT_EQ(done.error().text, "job 0 failed\n");
            EXPECT_EQ(later_held, 0) << threads << " threads";
            EXPECT_GE(cancelled, 1) << threads << " threads";
        });
    }
    // Without a failure every job gets its share, whatever the start order.
    for (int threads : {2, 3}) {
        within_deadline("every share", [threads] {
            std::atomic<int> held{0};
            const outcome done = run_ordered(12, threads,
                                             [&](size_t i) -> outcome {
                                                 if (i % 3 == 0) return {};
                                                 if (claim_memory(i % 2 ? jobs_memory_budget / 2
                                                                        : jobs_memory_budget + 1))
                                                     ++held;
                                                 return {};
                                             },
                                             {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
            EXPECT_TRUE(done.ok());
            EXPECT_EQ(held, 8) << threads << " threads";
        });
    }
}

// Each job runs a script of steps; flags order the jobs without sleeps.
struct step {
    enum kind { claim, raise, await, fail } what;
    size_t value = 0;  // bytes for claim, a flag for raise and await
};

constexpr size_t mb = size_t{1} << 20;

struct share_case {
    const char *what;
    size_t threads;
    std::vector<size_t> start_order;
    std::vector<std::vector<step>> jobs;  // one script per job
    const char *failure_text;             // of the failure returned, or null
};

// Retries, shares over the budget and failures in the orders that could
// close a circle of waits: each case ends, with the outcome one thread gives.
TEST(ordered_jobs, memory_shares_never_wait_in_a_circle)
{
    using enum step::kind;
    const size_t over = jobs_memory_budget + 1;
    const share_case cases[] = {
        // A later job started first gives back 700 MB and takes 100 MB on
        // its retry while the earlier job asks 400 MB.
        {"a smaller retried share beside an earlier claim",
         2,
         {1, 2, 0},
         {{{raise, 0}, {claim, 400 * mb}}, {{claim, 700 * mb}, {await, 0}, {claim, 100 * mb}}, {}},
         nullptr},
        // The earlier job's share is alone over the budget, the retried one
        // the smallest that counts.
        {"a retried share beside an earlier one over the budget",
         2,
         {1, 2, 0},
         {{{raise, 0}, {claim, over}},
          {{claim, smallest_share}, {await, 0}, {claim, smallest_share}},
          {}},
         nullptr},
        {"a larger retried share beside an earlier claim",
         2,
         {1, 2, 0},
         {{{raise, 0}, {claim, 400 * mb}}, {{claim, 100 * mb}, {await, 0}, {claim, 900 * mb}}, {}},
         nullptr},
        {"retries on both sides of an over-budget share",
         3,
         {2, 1, 0},
         {{{raise, 0}, {claim, 300 * mb}, {claim, over}},
          {{claim, 600 * mb}, {await, 0}, {claim, 700 * mb}},
          {{claim, 200 * mb}, {await, 0}, {claim, over}}},
         nullptr},
        {"an earlier job fails holding its share while later ones wait",
         2,
         {3, 2, 1, 0},
         {{{await, 0}, {claim, 600 * mb}, {claim, 800 * mb}, {fail, 0}},
          {{claim, 600 * mb}},
          {{claim, 600 * mb}},
          {{raise, 0}, {claim, 600 * mb}, {claim, over}}},
         "job 0 failed\n"},
        {"more failing jobs than threads, each retrying",
         2,
         {5, 4, 3, 2, 1, 0},
         {{{claim, 500 * mb}, {claim, 600 * mb}, {fail, 0}},
          {{claim, 500 * mb}, {claim, over}, {fail, 0}},
          {{claim, over}, {claim, 100 * mb}, {fail, 0}},
          {{claim, 700 * mb}, {claim, 700 * mb}, {fail, 0}},
          {{claim, 500 * mb}, {claim, 900 * mb}, {fail, 0}},
          {{claim, over}, {claim, over}, {fail, 0}}},
         "job 0 failed\n"},
    };
    for (const share_case &c : cases) {
        for (int round = 0; round < 20; ++round) {
            within_deadline(c.what, [&] {
                signal_flag flags[2];
                const outcome done = run_ordered(
                    c.jobs.size(), static_cast<int>(c.threads),
                    [&](size_t i) -> outcome {
                        for (const step &s : c.jobs[i]) {
                            switch (s.what) {
                            case claim:
                                if (!claim_memory(s.value)) return failure::stopped();
                                break;
                            case raise: flags[s.value].raise(); break;
                            case await: flags[s.value].await(); break;
                            case fail: return failure{"job " + std::to_string(i) + " failed\n"};
                            }
                        }
                        return {};
                    },
                    c.start_order);
                if (c.failure_text) {
                    ASSERT_FALSE(done.ok()) << c.what;
                    EXPECT_EQ(done.error().text, c.failure_text) << c.what;
                } else {
                    EXPECT_TRUE(done.ok()) << c.what;
                }
            });
        }
    }
}

}  // namespace
