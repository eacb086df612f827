// How errors raised while processing become outcomes: the reason the
// console shows, on one line, and memory running out told apart.
#include "outcome.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <new>
#include <stdexcept>

namespace {

TEST(Outcome, ARaisedErrorGivesAOneLineReason)
{
    // The library's checks quote the failed condition on lines of their
    // own, each marked with "> ".
    const cv::Exception check(cv::Error::StsAssert, "Check failed:\n>     'rows > 0'\n> where\n>     'rows' is 0\n",
                              "f", "f.cpp", 1);
    const cv::Exception noMemory(cv::Error::StsNoMem, "Failed to allocate 800 bytes", "f", "f.cpp", 1);
    const struct {
        const std::exception& error;
        const char* reason;
        bool outOfMemory;
    } cases[] = {
        {check, "Check failed: 'rows > 0' where 'rows' is 0", false},
        {noMemory, "Failed to allocate 800 bytes", true},  // the library's own words
        {std::bad_alloc(), "out of memory", true},
        {std::runtime_error("  no thread\r\n"), "no thread", false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.reason);
        const Outcome outcome = raised(test.error);
        EXPECT_EQ(outcome.status, status::processingFailed);
        EXPECT_EQ(outcome.reason, test.reason);
        EXPECT_EQ(isOutOfMemory(test.error), test.outOfMemory);
    }
}

} // namespace
