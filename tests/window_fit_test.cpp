// The rule that fits the result window to its screen, as a function: the
// size it shows an image at, and where it moves the window.
#include "window_fit.h"

#include <gtest/gtest.h>

namespace {

// A screen of 1280 x 1024 whose work area starts at (`left`, `top`), with
// a window at (`x`, `y`) whose frame adds `frame`.
WindowPlace placed(cv::Size frame, int x = 0, int y = 0, int left = 0, int top = 0)
{
    return {x, y, frame.width, frame.height, left, top, 1280 - left, 1024 - top};
}

TEST(WindowFit, AnImageLargerThanTheRoomIsScaledDownToFitItsAspectKept)
{
    const struct {
        cv::Size image, frame, shown;
    } cases[] = {
        {{400, 300}, {0, 0}, {400, 300}},            // fits: its own size
        {{1280, 1024}, {0, 0}, {1280, 1024}},        // fits exactly
        {{1280, 1024}, {10, 30}, {1243, 994}},       // the frame takes its share
        {{3000, 2000}, {0, 0}, {1280, 853}},         // the width limits
        {{800, 2400}, {0, 0}, {341, 1024}},          // the height limits
        {{3000000, 2000000}, {0, 0}, {1280, 853}},   // products past 32 bits
        {{4, 3}, {1278, 1022}, {2, 2}},              // half a pixel rounds up
        {{100000, 1}, {0, 0}, {1280, 1}},            // never less than a pixel
        {{5000, 5000}, {1280, 10}, {5000, 5000}},    // no room at all: its own size
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(testing::Message() << test.image << " with a frame of " << test.frame);
        EXPECT_EQ(fittedSize(test.image, placed(test.frame)), test.shown);
    }
}

TEST(WindowFit, TheWindowMovesOnlyAsFarAsKeepsItInsideTheWorkArea)
{
    const cv::Size frame(10, 30);
    const struct {
        WindowPlace place;
        cv::Size shown;
        cv::Point at;
    } cases[] = {
        {placed(frame, 100, 50), {400, 300}, {100, 50}},       // inside: stays
        {placed(frame, 1000, 900), {400, 300}, {870, 694}},    // past the right and bottom edges
        {placed(frame, -20, -5), {400, 300}, {0, 0}},          // past the left and top edges
        {placed(frame, 300, 200), {1280, 1024}, {0, 0}},       // larger than the area: its corner
        {placed(frame, 0, 0, 64, 32), {400, 300}, {64, 32}},   // a task bar on the left and top
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(testing::Message() << "at " << test.place.left << "," << test.place.top << " showing " << test.shown);
        EXPECT_EQ(placeInside(test.shown, test.place), test.at);
    }
}

} // namespace
