// Showing the result on screen and confirming completion.
#pragma once

#include <opencv2/core.hpp>

// presentResult
//
//   Shows `result` in the window "lumaLeveller.png" (made on first use, at
//   the image's size), lets it draw for 50 ms (a key pressed meanwhile only
//   shortens the wait), then shows the modal completion notice and returns
//   once the user has dismissed it. The window is not closed; it goes with
//   the process. Errors of the window library leave as its exceptions.
void presentResult(const cv::Mat& result);
