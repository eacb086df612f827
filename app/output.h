// Writing the result file.
#pragma once

#include <opencv2/core.hpp>

// saveResult
//
//   Encodes `result` as PNG with the library's default settings and puts
//   it in the working directory as "lumaLeveller.png", all or nothing: an
//   earlier file of that name is either replaced whole or left as it was,
//   and no temporary file stays behind. Returns whether the file was
//   written. Errors of the library leave as its exceptions.
bool saveResult(const cv::Mat& result);
