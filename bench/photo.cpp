#include "photo.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// One seed per element, so that each element's random choices do not
// depend on how many the elements before it drew at this size.
constexpr unsigned kBackdropSeed = 1729;
constexpr unsigned kObjectSeed = 4104;
constexpr unsigned kPrintSeed = 13832;
constexpr unsigned kNoiseSeed = 20683;
constexpr int kObjects = 140;
constexpr int kTextBlocks = 6;
// The lighting gain is stored as 8-bit: this value means a gain of one.
constexpr double kUnitGain = 230.0;

// Sky at the top fading into warm ground below a horizon, with soft
// blotches; drawn small and enlarged, which also makes it smooth.
cv::Mat drawBackdrop(cv::Size size, cv::RNG& rng)
{
    const cv::Size small(std::max(4, size.width / 32), std::max(4, size.height / 32));
    cv::Mat backdrop(small, CV_8UC3);
    const cv::Vec3f skyTop(200, 140, 90), skyLow(235, 205, 180), groundHigh(90, 130, 150), groundLow(40, 70, 95);
    const int horizon = small.height * 11 / 20;
    for (int y = 0; y < small.height; ++y) {
        const bool sky = y < horizon;
        const float t = sky ? static_cast<float>(y) / horizon
                            : static_cast<float>(y - horizon) / std::max(1, small.height - horizon);
        const cv::Vec3f colour = sky ? skyTop * (1 - t) + skyLow * t : groundHigh * (1 - t) + groundLow * t;
        for (int x = 0; x < small.width; ++x) {
            const float blotch = static_cast<float>(rng.gaussian(sky ? 3.0 : 12.0));
            backdrop.at<cv::Vec3b>(y, x) = cv::Vec3b(cv::saturate_cast<uchar>(colour[0] + blotch),
                                                     cv::saturate_cast<uchar>(colour[1] + blotch),
                                                     cv::saturate_cast<uchar>(colour[2] + blotch));
        }
    }
    cv::Mat image;
    cv::resize(backdrop, image, size, 0.0, 0.0, cv::INTER_CUBIC);
    return image;
}

// A random position in [0, extent), as the same fraction of any extent.
int anywhereIn(int extent, cv::RNG& rng)
{
    return static_cast<int>(rng.uniform(0.0, 1.0) * extent);
}

// Coloured things standing around: ellipses, tilted boxes and poles, some
// with a darker outline, from small to a tenth of the picture across.
void drawObjects(cv::Mat& image, cv::RNG& rng)
{
    const int w = image.cols, h = image.rows, shorter = std::min(w, h);
    for (int i = 0; i < kObjects; ++i) {
        const cv::Point centre(anywhereIn(w, rng), h / 3 + anywhereIn(h - h / 3, rng));
        const int extent = std::max(2, static_cast<int>(shorter * rng.uniform(0.005, 0.1)));
        const cv::Scalar colour(rng.uniform(20, 230), rng.uniform(20, 230), rng.uniform(20, 230));
        const double angle = rng.uniform(0.0, 180.0);
        switch (i % 3) {
        case 0:
            cv::ellipse(image, centre, cv::Size(extent, extent * 2 / 3 + 1), angle, 0, 360, colour, cv::FILLED,
                        cv::LINE_AA);
            break;
        case 1: {
            const cv::RotatedRect box(centre, cv::Size2f(extent * 1.5f, static_cast<float>(extent)),
                                      static_cast<float>(angle));
            cv::Point2f corners[4];
            box.points(corners);
            std::vector<cv::Point> polygon(corners, corners + 4);
            cv::fillConvexPoly(image, polygon, colour, cv::LINE_AA);
            cv::polylines(image, polygon, true, colour * 0.5, std::max(1, extent / 20), cv::LINE_AA);
            break;
        }
        default:
            cv::line(image, centre, centre - cv::Point(extent / 4, extent * 3), colour, std::max(1, extent / 8),
                     cv::LINE_AA);
        }
    }
}

// Blocks of dark print, as on signs and pages in the scene.
void drawPrint(cv::Mat& image, cv::RNG& rng)
{
    const double scale = image.cols / 1500.0;
    const int thickness = std::max(1, image.cols / 1000);
    const int lineHeight = static_cast<int>(30 * scale) + 1;
    for (int block = 0; block < kTextBlocks; ++block) {
        const cv::Point origin(anywhereIn(image.cols * 2 / 3, rng), anywhereIn(image.rows * 4 / 5, rng));
        for (int line = 0; line < 5; ++line) {
            const std::string text = "Block " + std::to_string(block) + " line " + std::to_string(line) +
                                     ": the quick brown fox";
            cv::putText(image, text, origin + cv::Point(0, line * lineHeight), cv::FONT_HERSHEY_SIMPLEX, scale,
                        cv::Scalar(30, 28, 26), thickness, cv::LINE_AA);
        }
    }
}

// Light falling off from the top left, and a broad soft shadow, as an
// 8-bit gain per pixel and channel (kUnitGain is a gain of one).
cv::Mat drawLighting(cv::Size size)
{
    const cv::Size small(std::max(4, size.width / 16), std::max(4, size.height / 16));
    cv::Mat gain(small, CV_32F);
    for (int y = 0; y < small.height; ++y)
        for (int x = 0; x < small.width; ++x)
            gain.at<float>(y, x) = 1.05f - 0.3f * (static_cast<float>(x) / small.width +
                                                    static_cast<float>(y) / small.height) / 2;
    cv::Mat shadow = cv::Mat::zeros(small, CV_32F);
    cv::ellipse(shadow, cv::Point(small.width * 7 / 10, small.height * 3 / 5),
                cv::Size(small.width / 4, small.height / 3), 25.0, 0, 360, cv::Scalar(1.0), cv::FILLED);
    cv::GaussianBlur(shadow, shadow, cv::Size(0, 0), small.width / 40.0 + 1);
    gain = gain.mul(1.0f - 0.45f * shadow) * kUnitGain;

    cv::Mat gain8;
    gain.convertTo(gain8, CV_8U);
    cv::Mat enlarged;
    cv::resize(gain8, enlarged, size, 0.0, 0.0, cv::INTER_LINEAR);
    cv::Mat gain3;
    cv::merge(std::vector<cv::Mat>{enlarged, enlarged, enlarged}, gain3);
    return gain3;
}

} // namespace

cv::Mat drawPhoto(cv::Size size)
{
    cv::RNG backdropRng(kBackdropSeed), objectRng(kObjectSeed), printRng(kPrintSeed), noiseRng(kNoiseSeed);
    cv::Mat image = drawBackdrop(size, backdropRng);
    drawObjects(image, objectRng);
    drawPrint(image, printRng);

    cv::multiply(image, drawLighting(size), image, 1.0 / kUnitGain);
    cv::GaussianBlur(image, image, cv::Size(3, 3), 0.7);
    cv::Mat noise(size, CV_16SC3);
    noiseRng.fill(noise, cv::RNG::NORMAL, 0.0, 2.0);
    cv::add(image, noise, image, cv::noArray(), CV_8U);
    return image;
}
