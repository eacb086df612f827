// Photo-like test images of any size for the benchmarks.
#pragma once

#include <opencv2/core.hpp>

// drawPhoto
//
//   Return: an 8-bit, 3-channel (blue-green-red) image of `size` that looks
//   like a photograph rather than noise or flat graphics: a sky-to-ground
//   backdrop with soft blotches, scattered coloured objects and lines of
//   print, lit unevenly and partly shadowed, softened like a lens and
//   sprinkled with sensor noise. Every element scales with the image, so
//   images of different sizes show the same scene; a fixed seed makes every
//   call with the same size return the same pixels. `size` is at least
//   64x64.
cv::Mat drawPhoto(cv::Size size);
