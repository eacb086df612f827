// How exceptions raised while processing become outcomes: the reason the
// console shows, on one line, memory running out told apart, and OpenCV's
// refusal taking the step's own status.
#include "outcome.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <new>
#include <stdexcept>

namespace {

TEST(Outcome, ARaisedErrorGivesAOneLineReasonOrTheStepsStatus)
{
    // OpenCV's checks quote the failed condition on lines of their own, each
    // marked with "> ".
    const cv::Exception check(cv::Error::StsAssert, "Check failed:\n>     'rows > 0'\n> where\n>     'rows' is 0\n",
                              "f", "f.cpp", 1);
    const cv::Exception noMemory(cv::Error::StsNoMem, "Failed to allocate 800 bytes", "f", "f.cpp", 1);
    const struct {
        const std::exception& error;
        const char* reason;
        bool refusedByOpenCv;  // a step with a status of its own gives that
    } cases[] = {
        {check, "Check failed: 'rows > 0' where 'rows' is 0", true},
        {noMemory, "Failed to allocate 800 bytes", false},  // OpenCV's own words
        {std::bad_alloc(), "out of memory", false},
        {std::runtime_error("  no thread\r\n"), "no thread", false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.reason);
        const Outcome outcome = outcomeOf(test.error);
        EXPECT_EQ(outcome.status, ExitStatus::processingFailed);
        EXPECT_EQ(outcome.reason, test.reason);
        const Outcome refused = outcomeOf(test.error, ExitStatus::notShown);
        EXPECT_EQ(refused.status, test.refusedByOpenCv ? ExitStatus::notShown : ExitStatus::processingFailed);
        EXPECT_EQ(refused.reason, test.refusedByOpenCv ? "" : test.reason);
    }
}

} // namespace
