#include "illumination.h"

#include <opencv2/imgproc.hpp>

#include <utility>
#include <vector>

// Every full-size plane here is released right after its last use, so that
// the next one can take over its memory instead of new memory, whose first
// touch costs more than the arithmetic of the step that fills it.

namespace {

// The background estimate: a 3x3 square applied this many times per pass
// equals one pass of a 19x19 square.
constexpr int kMorphologyIterations = 9;
constexpr int kValuePlane = 2;

// The hue, saturation and value planes of a blue-green-red image, which it
// releases once it is converted.
std::vector<cv::Mat> hsvPlanes(cv::Mat image)
{
    cv::Mat hsv;
    cv::cvtColor(image, hsv, cv::COLOR_BGR2HSV, 0);
    image.release();
    std::vector<cv::Mat> planes;
    cv::split(hsv, planes);
    return planes;
}

// The background brightness: the grey-level closing of `value`.
cv::Mat closing(const cv::Mat& value)
{
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3), cv::Point(-1, -1));
    cv::Mat dilated;
    cv::morphologyEx(value, dilated, cv::MORPH_DILATE, kernel, cv::Point(-1, -1), kMorphologyIterations,
                     cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    cv::Mat background;
    cv::morphologyEx(dilated, background, cv::MORPH_ERODE, kernel, cv::Point(-1, -1), kMorphologyIterations,
                     cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    return background;
}

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

// The new brightness plane for the brightness plane `value`, which it
// releases once it is no longer needed.
cv::Mat levelledBrightness(cv::Mat value)
{
    cv::Mat difference = closing(value) - value;
    value.release();
    cv::Mat inverted = ~difference;
    difference.release();
    stretchBrightness(inverted);
    return inverted;
}

// The blue-green-red image of hue, saturation and value planes, which it
// releases once they are merged.
cv::Mat bgrImage(std::vector<cv::Mat> planes)
{
    cv::Mat hsv;
    cv::merge(planes, hsv);
    planes.clear();
    cv::Mat result;
    cv::cvtColor(hsv, result, cv::COLOR_HSV2BGR, 0);
    return result;
}

} // namespace

cv::Mat flattenIllumination(cv::Mat image)
{
    std::vector<cv::Mat> planes = hsvPlanes(std::move(image));
    planes[kValuePlane] = levelledBrightness(std::move(planes[kValuePlane]));
    return bgrImage(std::move(planes));
}
