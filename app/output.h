// Writing the result file.
#pragma once

#include "outcome.h"

#include <opencv2/core.hpp>

// saveResult
//
//   Encodes `result` (8-bit, 3 channels, blue-green-red) as PNG with
//   writePng, on as many threads as the image library uses, in runs of
//   pngRunRows rows (so the file's bytes do not depend on the threads), and
//   puts it in the working directory as "lumaLeveller.png", all or nothing:
//   an earlier file of that name is either replaced whole or left as it
//   was, and no temporary file stays behind. The file is written as the
//   encoder makes it. Gives back success; status::notWritten when the file
//   could not be written; a processing failure with the encoder's reason
//   when the encoder failed (memory ran out, say).
Outcome saveResult(const cv::Mat& result);
