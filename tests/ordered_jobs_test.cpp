// Jobs on several threads, written out as one thread would have.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/ordered_jobs.h"
#include "base/report.h"
#include "support/capture_output.h"

namespace {

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
        std::atomic<int> ran_after{0};
        outcome done;
        const captured_output output = capture_output([&] {
            done = run_ordered(6, threads,
                               [&](size_t i) -> outcome {
                                   report_out("job %zu\n", i);
                                   if (i > 3) ++ran_after;
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
    std::atomic<bool> told{false};
    const outcome done = run_ordered(2, 2,
                                     [&](size_t i) -> outcome {
                                         if (i == 0) return failure{"first failed\n"};
                                         while (!job_cancelled()) std::this_thread::yield();
                                         told = true;
                                         return failure{};
                                     },
                                     {1, 0});
    ASSERT_FALSE(done.ok());
    EXPECT_EQ(done.error().text, "first failed\n");
    EXPECT_TRUE(told);
    EXPECT_FALSE(job_cancelled());
}

TEST(ordered_jobs, outside_a_job_reports_go_straight_out)
{
    EXPECT_FALSE(inside_ordered_job());
    EXPECT_EQ(capture_output([] { report_out("plain %d\n", 1); }).out, "plain 1\n");
}

}  // namespace

// Large shares of memory are never held by two jobs at once when together
// they pass the budget; shares within it are held side by side.
TEST(ordered_jobs, memory_shares_beyond_the_budget_are_taken_one_at_a_time)
{
    for (const auto &[share, most_at_once] :
         {std::pair{jobs_memory_budget + 1, 1}, std::pair{jobs_memory_budget / 4, 4}}) {
        std::atomic<int> holding{0}, most{0}, arrived{0};
        const outcome done = run_ordered(4, 4, [&, share = share](size_t) {
            // Every job asks before any has finished.
            ++arrived;
            while (arrived < 4) std::this_thread::yield();
            memory_share claim(share);
            const int now = ++holding;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            --holding;
            return outcome{};
        });
        EXPECT_TRUE(done.ok());
        EXPECT_EQ(most, most_at_once) << share;
    }
}

// A failing job gives its memory share back as it returns: an earlier job
// that had its turn, waiting for the share, still finishes and is written
// out first.
TEST(ordered_jobs, a_failing_job_gives_its_memory_share_back)
{
    std::atomic<bool> taken{false};
    outcome done;
    const captured_output output = capture_output([&] {
        done = run_ordered(2, 2,
                           [&](size_t i) -> outcome {
                               if (i == 1) {
                                   memory_share claim(jobs_memory_budget + 1);
                                   taken = true;
                                   std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                   return failure{"job 1 failed\n"};
                               }
                               memory_share small(0);  // job 0's turn, without memory
                               while (!taken) std::this_thread::yield();
                               memory_share claim(jobs_memory_budget + 1);
                               report_out("job 0 done\n");
                               return {};
                           },
                           {1, 0});
    });
    ASSERT_FALSE(done.ok());
    EXPECT_EQ(done.error().text, "job 1 failed\n");
    EXPECT_EQ(output.out, "job 0 done\n");
}

// Shares are taken in job order, as one thread would: later jobs started
// first (as the largest are) wait for an earlier one that has started to
// have its turn, so none holds memory beside an earlier job that fails, and
// they are told to stop without their share. Jobs that take no share keep
// no one waiting.
TEST(ordered_jobs, memory_shares_are_taken_in_job_order)
{
    for (int threads : {2, 4}) {
        std::atomic<int> later_held{0}, cancelled{0};
        const outcome done =
            run_ordered(5, threads,
                        [&](size_t i) -> outcome {
                            if (i == 0) {
                                // Long after the later jobs asked for theirs.
                                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                                memory_share claim(jobs_memory_budget + 1);
                                return failure{"job 0 failed\n"};
                            }
                            memory_share claim(i % 2 ? jobs_memory_budget + 1 : smallest_share);
                            if (job_cancelled())
                                ++cancelled;
                            else
                                ++later_held;
                            return {};
                        },
                        {4, 0, 3, 2, 1});
        ASSERT_FALSE(done.ok());
        EXPECT_EQ(done.error().text, "job 0 failed\n");
        EXPECT_EQ(later_held, 0) << threads << " threads";
        EXPECT_GE(cancelled, 1) << threads << " threads";
    }
    // Without a failure every job gets its share, whatever the start order.
    for (int threads : {2, 3}) {
        std::atomic<int> held{0};
        const outcome done = run_ordered(12, threads,
                                         [&](size_t i) -> outcome {
                                             if (i % 3 == 0) return {};
                                             memory_share claim(i % 2 ? jobs_memory_budget / 2
                                                                      : jobs_memory_budget + 1);
                                             if (!job_cancelled()) ++held;
                                             return {};
                                         },
                                         {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
        EXPECT_TRUE(done.ok());
        EXPECT_EQ(held, 8) << threads << " threads";
    }
}
