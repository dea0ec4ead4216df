// Jobs on several threads, written out as one thread would have.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/fatal.h"
#include "base/ordered_jobs.h"
#include "base/settings.h"
#include "support/capture_output.h"

namespace {

TEST(ordered_jobs, output_follows_job_order_whatever_the_start_order)
{
    const std::vector<size_t> backwards = {7, 6, 5, 4, 3, 2, 1, 0};
    for (int threads : {1, 2, 5}) {
        const captured_output output = capture_output([&] {
            run_ordered(8, threads, [](size_t i) {
                report_out("job %zu\n", i);
                if (i % 3 == 0) report_err("note %zu\n", i);
                report_out("job %zu done\n", i);
            }, backwards);
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
// started: the earlier jobs still run, and the first failure in job order
// is the one reported, after the output of the jobs before it.
TEST(ordered_jobs, failures_taken_first_still_end_the_run_in_order)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    settings.progname = "vistrel";
    EXPECT_EXIT(
        {
            run_ordered(6, 2, [](size_t i) {
                report_out("job %zu\n", i);
                if (i >= 3) fatal("job %zu failed\n", i);
            }, {5, 4, 3, 0, 1, 2});
        },
        testing::ExitedWithCode(1), "^vistrel: job 3 failed\n$");
}

TEST(ordered_jobs, outside_a_job_reports_go_straight_out)
{
    EXPECT_FALSE(inside_ordered_job());
    EXPECT_EQ(capture_output([] { report_out("plain %d\n", 1); }).out, "plain 1\n");
}

}  // namespace
