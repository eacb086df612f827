#include "illumination.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstddef>

// The colour image is converted to HSV and back in its own memory, a band
// of rows at a time on every core, and the only planes of its size are the
// brightness and its background. Fresh memory costs a page fault per page
// on its first touch, which outweighs the arithmetic of the step that
// fills it; so the less of it a run takes, the faster it is.

namespace {

// The background estimate: a 3x3 square applied this many times per pass
// equals one pass of a 19x19 square.
constexpr int kMorphologyIterations = 9;
constexpr int kValueChannel = 2;
// A band's size in bytes: small enough to stay in a core's cache between
// its conversion and its copy back.
constexpr std::size_t kBandBytes = std::size_t{256} << 10;

// Calls `band(rows, buffer)` for bands of rows covering `image`, on every
// core; `buffer` is a matrix of the calling thread's own, reused from band
// to band.
template <typename Band>
void forEachBand(const cv::Mat& image, const Band& band)
{
    const std::size_t rowBytes = image.elemSize() * static_cast<std::size_t>(image.cols);
    const int bandRows = static_cast<int>(std::clamp<std::size_t>(kBandBytes / rowBytes, 1, image.rows));
    const int bands = (image.rows + bandRows - 1) / bandRows;
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
        cv::Mat buffer;
        for (int b = range.start; b < range.end; ++b) {
            band(cv::Range(b * bandRows, std::min(image.rows, (b + 1) * bandRows)), buffer);
        }
    });
}

// Converts the blue-green-red `image` to HSV in place and copies its value
// channel into `value`.
void toHsv(cv::Mat& image, cv::Mat& value)
{
    value.create(image.size(), CV_8UC1);
    forEachBand(image, [&](const cv::Range& rows, cv::Mat& buffer) {
        cv::cvtColor(image.rowRange(rows), buffer, cv::COLOR_BGR2HSV, 0);
        buffer.copyTo(image.rowRange(rows));
        cv::extractChannel(buffer, value.rowRange(rows), kValueChannel);
    });
}

// Puts `value` into the HSV `image` as its value channel and converts the
// image back to blue-green-red in place.
void toBgr(cv::Mat& image, const cv::Mat& value)
{
    forEachBand(image, [&](const cv::Range& rows, cv::Mat& buffer) {
        cv::Mat band = image.rowRange(rows);
        cv::insertChannel(value.rowRange(rows), band, kValueChannel);
        cv::cvtColor(band, buffer, cv::COLOR_HSV2BGR, 0);
        buffer.copyTo(band);
    });
}

// The background brightness: the grey-level closing of `value`. The erosion
// works in place, as OpenCV's own closing (cv::morphologyEx) does.
cv::Mat closing(const cv::Mat& value)
{
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3), cv::Point(-1, -1));
    cv::Mat background;
    cv::morphologyEx(value, background, cv::MORPH_DILATE, kernel, cv::Point(-1, -1), kMorphologyIterations,
                     cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    cv::morphologyEx(background, background, cv::MORPH_ERODE, kernel, cv::Point(-1, -1), kMorphologyIterations,
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

// The new brightness plane for the brightness plane `value`: the inverted
// difference to its background, stretched, in the background's memory.
cv::Mat levelledBrightness(const cv::Mat& value)
{
    cv::Mat brightness = closing(value);
    cv::subtract(brightness, value, brightness);
    cv::bitwise_not(brightness, brightness);
    stretchBrightness(brightness);
    return brightness;
}

} // namespace

void flattenIlluminationInPlace(cv::Mat& image)
{
    cv::Mat value;
    toHsv(image, value);
    value = levelledBrightness(value);
    toBgr(image, value);
}

cv::Mat flattenIllumination(const cv::Mat& image)
{
    cv::Mat result = image.clone();
    flattenIlluminationInPlace(result);
    return result;
}
