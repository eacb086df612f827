// Shadow removal: evens out the illumination of a colour photograph.
#pragma once

#include <opencv2/core.hpp>

// flattenIllumination
//
//   Input:  image, 8-bit unsigned, 3 channels in blue-green-red order, at
//           least 1x1 pixel, continuous or not. Its pixels are only read.
//   Return: a new image of the same size and type.
//
//   Works on the brightness (V) plane of the image's HSV form only; hue and
//   saturation pass through, apart from the rounding of the 8-bit HSV round
//   trip (hue is held in steps of two degrees).
//
//   The background brightness B around each pixel is the grey-level closing
//   of V by a 19x19 square (a 3x3 square dilated 9 times, then eroded 9
//   times). Pixels outside the image take part in neither the maximum nor
//   the minimum, so the borders are treated like interior pixels. B is never
//   below V. The new brightness is 255 - (B - V), stretched linearly so that
//   its smallest value maps to 0 and its largest (always 255) stays 255,
//   rounded to the nearest integer. Hence:
//     - pixels as bright as their background, and every pixel of a dark
//       area large enough to hold the 19x19 square, come out at V = 255:
//       a broad shadow is lifted to the brightness of the lit surface;
//     - dark detail narrower than 19 pixels stays dark, the darkest of it
//       at V = 0;
//     - grey pixels (saturation 0) stay grey: blue = green = red = new V.
//   Constant case: where no pixel is darker than its background (one
//   uniform colour, a 1x1 image, a plain white page), nothing is detail and
//   every pixel comes out at V = 255 rather than being stretched to black.
//
//   Errors of OpenCV (in practice only exhaustion of memory) leave as its
//   exceptions; the operation catches and reports nothing.
cv::Mat flattenIllumination(const cv::Mat& image);

// flattenIlluminationInPlace
//
//   The same operation with the same result, written over the pixels of
//   `image` (and so of every matrix that shares them). Besides the image it
//   needs two single-channel planes of its size, where flattenIllumination
//   needs a second colour image as well. An error leaves `image` part
//   converted.
void flattenIlluminationInPlace(cv::Mat& image);
