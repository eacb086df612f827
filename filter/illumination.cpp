#include "illumination.h"

#include <opencv2/imgproc.hpp>

#include <vector>

namespace {

// The background estimate: a 3x3 square applied this many times per pass
// equals one pass of a 19x19 square.
constexpr int kMorphologyIterations = 9;
constexpr int kValuePlane = 2;

// Stretches the inverted brightness plane onto 0..255 in place. A constant
// plane has no detail at all; it is lit background everywhere and stays at
// full brightness instead of being stretched to black.
void stretchBrightness(cv::Mat& inverted)
{
    double lowest = 0.0;
    double highest = 0.0;
    cv::minMaxLoc(inverted, &lowest, &highest);
    if (lowest == highest) {
        inverted.setTo(cv::Scalar::all(255));
        return;
    }
    cv::normalize(inverted, inverted, 0.0, 255.0, cv::NORM_MINMAX, -1, cv::noArray());
}

} // namespace

cv::Mat flattenIllumination(const cv::Mat& image)
{
    cv::Mat hsv;
    cv::cvtColor(image, hsv, cv::COLOR_BGR2HSV, 0);

    std::vector<cv::Mat> planes;
    cv::split(hsv, planes);
    const cv::Mat value = planes[kValuePlane];

    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3), cv::Point(-1, -1));
    cv::Mat dilated;
    cv::morphologyEx(value, dilated, cv::MORPH_DILATE, kernel, cv::Point(-1, -1), kMorphologyIterations,
                     cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    cv::Mat background;
    cv::morphologyEx(dilated, background, cv::MORPH_ERODE, kernel, cv::Point(-1, -1), kMorphologyIterations,
                     cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());

    const cv::Mat difference = background - value;
    cv::Mat inverted = ~difference;
    stretchBrightness(inverted);

    planes[kValuePlane] = inverted;
    cv::merge(planes, hsv);

    cv::Mat result;
    cv::cvtColor(hsv, result, cv::COLOR_HSV2BGR, 0);
    return result;
}
