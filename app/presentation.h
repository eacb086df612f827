// Showing the result on screen and confirming completion.
#pragma once

#include "outcome.h"

#include <opencv2/core.hpp>

// presentResult
//
//   Shows `result` in the window "lumaLeveller.png", which shows the image
//   alone (no tool or status bar), lets it draw for 50 ms (a key pressed
//   meanwhile only shortens the wait), then shows the modal completion notice
//   and gives back success once the user has dismissed it. The window shows
//   the image at the size fittedSize gives (window_fit.h): pixel for pixel
//   when it fits the work area of the screen the window opens on, else a copy
//   scaled down with area interpolation; `result` itself is not changed. The
//   window is moved only as far as keeps it inside the work area. Where the
//   window's place cannot be learned, the image is shown at its own size
//   wherever the window opens. The window is not closed; it goes with the
//   process. A display that cannot be reached, or that goes away meanwhile,
//   ends the run with the show error (exitOnDisplayFailure); any other
//   failure of OpenCV's window (cv::imshow), or a notice that the system
//   could not show, gives back ExitStatus::notShown, and memory running out
//   or another error a processing failure.
Outcome presentResult(const cv::Mat& result);
