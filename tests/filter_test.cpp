// flattenIllumination against a brute-force reference of its brightness
// path, and the effects a user sees: shadows lifted, detail kept, colours
// kept, grey kept grey, constant images at full brightness.
#include "illumination.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// The background window: a 3x3 square applied 9 times reaches 9 pixels out.
constexpr int kReach = 9;

cv::Mat brightnessOf(const cv::Mat& bgr)
{
    cv::Mat value(bgr.size(), CV_8U);
    for (int y = 0; y < bgr.rows; ++y)
        for (int x = 0; x < bgr.cols; ++x) {
            const cv::Vec3b pixel = bgr.at<cv::Vec3b>(y, x);
            value.at<uchar>(y, x) = std::max({pixel[0], pixel[1], pixel[2]});
        }
    return value;
}

// The largest (or smallest) value in the 19x19 window around each pixel,
// ignoring the window's parts outside the plane: along each row, then along
// each column of that (each pass writes its result transposed).
template <typename Pick>
cv::Mat clippedWindow(const cv::Mat& plane, Pick pick)
{
    const auto alongRows = [&](const cv::Mat& in) {
        cv::Mat out(in.cols, in.rows, CV_8U);
        for (int y = 0; y < in.rows; ++y)
            for (int x = 0; x < in.cols; ++x) {
                uchar best = in.at<uchar>(y, x);
                for (int u = std::max(0, x - kReach); u <= std::min(in.cols - 1, x + kReach); ++u)
                    best = pick(best, in.at<uchar>(y, u));
                out.at<uchar>(x, y) = best;
            }
        return out;
    };
    return alongRows(alongRows(plane));
}

// The bounds of each pixel of the new brightness plane: equal, or the two
// integers next to a stretched value exactly halfway between them.
struct Bounds {
    cv::Mat lowest, highest;
};

// The new brightness plane, computed pixel by pixel: background by closing,
// inverted difference, stretch of m..255 onto 0..255 in exact integer
// arithmetic, rounded to the nearest integer; a value exactly halfway
// between two integers may round to either.
Bounds referenceBrightness(const cv::Mat& bgr)
{
    const cv::Mat value = brightnessOf(bgr);
    const auto larger = [](uchar a, uchar b) { return std::max(a, b); };
    const auto smaller = [](uchar a, uchar b) { return std::min(a, b); };
    const cv::Mat background = clippedWindow(clippedWindow(value, larger), smaller);

    cv::Mat inverted(value.size(), CV_8U);
    int darkest = 255;
    for (int y = 0; y < value.rows; ++y)
        for (int x = 0; x < value.cols; ++x) {
            const int difference = background.at<uchar>(y, x) - value.at<uchar>(y, x);
            EXPECT_GE(difference, 0) << "closing below the plane at " << x << "," << y;
            inverted.at<uchar>(y, x) = static_cast<uchar>(255 - difference);
            darkest = std::min(darkest, 255 - difference);
        }
    Bounds bounds{inverted.clone(), inverted.clone()};
    if (darkest == 255)
        return bounds;

    // The stretched value is n / span, n = (pixel - darkest) 255: rounded
    // with halves down it is (2n + span - 1) / (2 span), with halves up
    // (2n + span) / (2 span).
    const int span = 255 - darkest;
    for (int y = 0; y < value.rows; ++y)
        for (int x = 0; x < value.cols; ++x) {
            const int twice = 2 * (inverted.at<uchar>(y, x) - darkest) * 255;
            bounds.lowest.at<uchar>(y, x) = static_cast<uchar>((twice + span - 1) / (2 * span));
            bounds.highest.at<uchar>(y, x) = static_cast<uchar>((twice + span) / (2 * span));
        }
    return bounds;
}

// How many pixels of `brightness` lie outside `bounds`.
int countOutside(const cv::Mat& brightness, const Bounds& bounds)
{
    cv::Mat below, above;
    cv::compare(brightness, bounds.lowest, below, cv::CMP_LT);
    cv::compare(brightness, bounds.highest, above, cv::CMP_GT);
    return cv::countNonZero(below) + cv::countNonZero(above);
}

// The colour image with `brightness` as its new V, through the library's
// 8-bit HSV round trip.
cv::Mat withBrightness(const cv::Mat& bgr, const cv::Mat& brightness)
{
    cv::Mat hsv;
    cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
    std::vector<cv::Mat> planes;
    cv::split(hsv, planes);
    planes[2] = brightness;
    cv::merge(planes, hsv);
    cv::Mat result;
    cv::cvtColor(hsv, result, cv::COLOR_HSV2BGR);
    return result;
}

int countDifferent(const cv::Mat& a, const cv::Mat& b)
{
    cv::Mat unequal;
    cv::compare(a.reshape(1), b.reshape(1), unequal, cv::CMP_NE);
    return cv::countNonZero(unequal);
}

cv::Mat randomImage(cv::Size size, cv::RNG& rng)
{
    cv::Mat image(size, CV_8UC3);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

// A lit, coloured surface with a darker broad region, thin strokes and dots.
cv::Mat structuredImage(cv::Size size, cv::RNG& rng)
{
    cv::Mat image(size, CV_8UC3, cv::Scalar(150, 190, 210));
    const int w = size.width, h = size.height;
    cv::rectangle(image, cv::Rect(w / 3, 0, std::max(1, w / 2), h), cv::Scalar(60, 80, 90), cv::FILLED);
    for (int i = 0; i < 6; ++i) {
        const cv::Point from(rng.uniform(0, w), rng.uniform(0, h)), to(rng.uniform(0, w), rng.uniform(0, h));
        cv::line(image, from, to, cv::Scalar(rng.uniform(0, 80), rng.uniform(0, 80), rng.uniform(0, 160)),
                 rng.uniform(1, 4));
    }
    return image;
}

// Whether `result` is what flattenIllumination makes of `input`: the
// reference's brightness, with the input's hue and saturation through the
// library's 8-bit HSV round trip.
void expectMatchesReference(const cv::Mat& input, const cv::Mat& result)
{
    ASSERT_EQ(result.size(), input.size());
    ASSERT_EQ(result.type(), CV_8UC3);
    const cv::Mat brightness = brightnessOf(result);
    EXPECT_EQ(countOutside(brightness, referenceBrightness(input)), 0) << "brightness differs";
    EXPECT_EQ(countDifferent(result, withBrightness(input, brightness)), 0) << "pixels differ";
}

void expectFlattensAsReference(const cv::Mat& input)
{
    const cv::Mat original = input.clone();
    expectMatchesReference(input, flattenIllumination(input));
    EXPECT_EQ(countDifferent(input, original), 0) << "input changed";
}

const std::vector<cv::Size> kAwkwardSizes = {{1, 1},   {1, 2},   {40, 1},  {1, 40},  {2, 2},  {19, 19},
                                             {20, 37}, {37, 20}, {64, 3},  {3, 64},  {101, 77}};

TEST(FlattenIllumination, MatchesReferenceOnRandomImages)
{
    cv::RNG rng(20261207);
    for (const cv::Size& size : kAwkwardSizes) {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
        expectFlattensAsReference(randomImage(size, rng));
    }
}

TEST(FlattenIllumination, MatchesReferenceOnStructuredImages)
{
    cv::RNG rng(7);
    for (const cv::Size& size : kAwkwardSizes) {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
        expectFlattensAsReference(structuredImage(size, rng));
    }
}

TEST(FlattenIllumination, ConstantImagesComeOutAtFullBrightness)
{
    const std::vector<cv::Scalar> colours = {{0, 0, 0}, {255, 255, 255}, {30, 90, 200}, {128, 128, 128}};
    for (const cv::Size& size : {cv::Size(1, 1), cv::Size(3, 1), cv::Size(40, 30)})
        for (const cv::Scalar& colour : colours) {
            SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " colour " << colour);
            const cv::Mat input(size, CV_8UC3, colour);
            const cv::Mat result = flattenIllumination(input);
            EXPECT_EQ(countDifferent(brightnessOf(result), cv::Mat(size, CV_8U, cv::Scalar(255))), 0);
            EXPECT_EQ(countDifferent(result, withBrightness(input, cv::Mat(size, CV_8U, cv::Scalar(255)))), 0);
        }
}

TEST(FlattenIllumination, GreyStaysGrey)
{
    cv::RNG rng(3);
    cv::Mat grey(45, 33, CV_8U);
    rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
    cv::Mat input;
    cv::cvtColor(grey, input, cv::COLOR_GRAY2BGR);

    const cv::Mat result = flattenIllumination(input);
    const cv::Mat brightness = brightnessOf(result);
    EXPECT_EQ(countOutside(brightness, referenceBrightness(input)), 0);
    std::vector<cv::Mat> channels;
    cv::split(result, channels);
    for (const cv::Mat& channel : channels)
        EXPECT_EQ(countDifferent(channel, brightness), 0);
}

TEST(FlattenIllumination, KeepsHueAndSaturation)
{
    cv::RNG rng(11);
    const cv::Mat input = structuredImage(cv::Size(120, 90), rng);
    cv::Mat before, after;
    cv::cvtColor(input, before, cv::COLOR_BGR2HSV);
    cv::cvtColor(flattenIllumination(input), after, cv::COLOR_BGR2HSV);

    int compared = 0;
    for (int y = 0; y < input.rows; ++y)
        for (int x = 0; x < input.cols; ++x) {
            const cv::Vec3b was = before.at<cv::Vec3b>(y, x), is = after.at<cv::Vec3b>(y, x);
            // Hue and saturation are only meaningful on colours bright and
            // saturated enough for the 8-bit round trip to hold them.
            if (is[2] < 128 || was[1] < 64)
                continue;
            ++compared;
            const int hueStep = std::abs(was[0] - is[0]);
            EXPECT_LE(std::min(hueStep, 180 - hueStep), 2) << "hue at " << x << "," << y;
            EXPECT_LE(std::abs(was[1] - is[1]), 3) << "saturation at " << x << "," << y;
        }
    EXPECT_GT(compared, input.total() / 2);
}

// The image is converted in bands of rows on all cores; a large image,
// here a window into a wider one, comes out as the reference gives it, and
// the pixels around the window stay as they were.
TEST(FlattenIllumination, InPlaceOverManyBandsMatchesReference)
{
    cv::RNG rng(5);
    cv::Mat canvas = randomImage(cv::Size(1011, 607), rng);
    const cv::Mat original = canvas.clone();
    const cv::Rect window(7, 3, 1001, 601);
    cv::Mat image = canvas(window);
    structuredImage(window.size(), rng).copyTo(image);
    const cv::Mat input = image.clone();

    flattenIlluminationInPlace(image);
    expectMatchesReference(input, image);
    original(window).copyTo(image);
    EXPECT_EQ(countDifferent(canvas, original), 0) << "pixels outside the window changed";
}

// A lit page (V 220) with a broad shadow (V 100) and a thin dark stroke
// (V 40) on the lit part, another the same against the image's left edge.
TEST(FlattenIllumination, LiftsBroadShadowsAndKeepsThinDetailDark)
{
    cv::Mat page(120, 160, CV_8UC3, cv::Scalar(220, 220, 220));
    cv::rectangle(page, cv::Rect(80, 0, 80, 120), cv::Scalar(100, 100, 100), cv::FILLED);
    cv::rectangle(page, cv::Rect(30, 20, 3, 80), cv::Scalar(40, 40, 40), cv::FILLED);
    cv::rectangle(page, cv::Rect(0, 20, 3, 80), cv::Scalar(40, 40, 40), cv::FILLED);

    const cv::Mat brightness = brightnessOf(flattenIllumination(page));
    EXPECT_EQ(brightness.at<uchar>(60, 120), 255) << "shadow interior";
    EXPECT_EQ(brightness.at<uchar>(60, 81), 255) << "shadow edge";
    EXPECT_EQ(brightness.at<uchar>(5, 60), 255) << "lit surface";
    EXPECT_EQ(brightness.at<uchar>(0, 159), 255) << "corner";
    EXPECT_EQ(brightness.at<uchar>(60, 31), 0) << "stroke";
    EXPECT_EQ(brightness.at<uchar>(60, 0), 0) << "stroke at the border";

    double lowest = 0;
    cv::minMaxLoc(brightness, &lowest);
    EXPECT_EQ(lowest, 0);
}

} // namespace
