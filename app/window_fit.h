// Where the result window goes and what size of image it shows, from its
// measured place (see measureWindow in platform.h): the same rule on every
// platform.
#pragma once

#include "platform.h"

#include <opencv2/core.hpp>

// The size at which the window placed as `place` shows an image of `image`
// pixels: its own when it fits the work area less the window's frame, or
// when that leaves no room at all; else the largest size with its aspect
// (within a pixel) that fits, never less than one pixel a side. Never
// larger than `image`.
cv::Size fittedSize(cv::Size image, const WindowPlace& place);

// Where the window's outer top-left corner goes so that, showing an image
// of `shown` pixels, it stays inside the work area, moved as little as
// that takes: where it is when inside already; at the work area's left or
// top edge when it is wider or taller than the area.
cv::Point placeInside(cv::Size shown, const WindowPlace& place);
