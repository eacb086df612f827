// Bringing what cv::imread returns to the 8-bit colour the filter takes.
#pragma once

#include <opencv2/core.hpp>

// toEightBitColour
//
//   Brings an image that cv::imread returned in another form than 8-bit
//   colour to it, the way cv::imread converts the colour files of the same
//   kind: a one-channel float file (a grey PFM) comes back from the colour
//   read with one channel, while cv::imread gives its colour twin three.
//   Samples become 8-bit as cv::Mat::convertTo makes them (rounded and
//   saturated, not scaled, as the float decoders do); one channel is repeated
//   into three, a fourth (alpha) is dropped. An 8-bit colour image is left as
//   it is. Returns false, the image then unusable, for any other channel
//   count.
bool toEightBitColour(cv::Mat& image);
