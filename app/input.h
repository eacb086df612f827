// Reading the input image.
#pragma once

#include "outcome.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// readImage
//
//   Reads the image at `path` into `image` as OpenCV's colour read of the
//   file gives it (cv::imread), brought to 8-bit colour (see toEightBitColour
//   in colour_image.h). The file is opened once; a regular file is decoded by
//   cv::imread, which gives what arrived of a file cut short, while a pipe is
//   read to its end and decoded from memory. A decoder that crashes on a
//   malformed file ends the run with the read error. Gives back success;
//   ExitStatus::unreadableInput for an input that cannot be opened, read or
//   decoded, or that OpenCV refuses; a processing failure when memory ran out
//   or another error was raised. With `profile`, it receives the ICC profile
//   for RGB that the file embeds, from the same open file or bytes as the
//   pixels (inputProfile in input_profile.h), or nothing.
Outcome readImage(const std::string& path, cv::Mat& image, std::vector<unsigned char>* profile = nullptr);
