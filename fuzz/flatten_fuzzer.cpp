// libFuzzer target: a small image made from the bytes, flattened, checked
// against what flattenIllumination promises.
//
// Input: byte 0 gives the width (1 + byte % 64), byte 1 the height
// (1 + byte % 64), byte 2 how pixels are made (byte % 3): 0 colour, three
// bytes each; 1 grey, one byte each; 2 mixed, three bytes each, grey when
// the first is odd. The pixel bytes follow and are reused from the start
// when they run out; with none, the image is black.
//
// Checked, with the background B the closing of the brightness V (the
// largest colour component) by a 19x19 square, computed here in one pass:
//   - the result has the image's size and type;
//   - grey pixels stay grey;
//   - every pixel as bright as its background (V == B, among them the
//     brightest pixel of the image) comes out at full brightness, 255;
//   - unless every pixel is as bright as its background, the pixels
//     furthest below it (largest B - V) come out black.
#include "illumination.h"

#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool holds, const char* what)
{
    if (!holds) {
        std::printf("broken invariant: %s\n", what);
        std::fflush(stdout);
        std::abort();
    }
}

bool isGrey(const cv::Vec3b& pixel)
{
    return pixel[0] == pixel[1] && pixel[1] == pixel[2];
}

cv::Mat imageFrom(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) {
        return cv::Mat();
    }
    const int width = 1 + data[0] % 64;
    const int height = 1 + data[1] % 64;
    const int mode = data[2] % 3;
    data += 3;
    size -= 3;
    std::size_t next = 0;
    const auto byte = [&]() -> std::uint8_t { return size == 0 ? 0 : data[next++ % size]; };

    cv::Mat image(height, width, CV_8UC3);
    for (cv::Vec3b& pixel : cv::Mat_<cv::Vec3b>(image)) {
        if (mode == 1) {
            pixel = cv::Vec3b::all(byte());
            continue;
        }
        pixel = cv::Vec3b(byte(), byte(), byte());
        if (mode == 2 && pixel[0] % 2 == 1) {
            pixel = cv::Vec3b::all(pixel[1]);
        }
    }
    return image;
}

cv::Mat brightnessOf(const cv::Mat& bgr)
{
    std::vector<cv::Mat> planes;
    cv::split(bgr, planes);
    cv::Mat value = cv::max(cv::max(planes[0], planes[1]), planes[2]);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const cv::Mat image = imageFrom(data, size);
    if (image.empty()) {
        return 0;
    }
    const cv::Mat result = flattenIllumination(image);
    require(result.size() == image.size() && result.type() == image.type(), "same size and type");

    const cv::Mat value = brightnessOf(image);
    cv::Mat background;
    cv::morphologyEx(value, background, cv::MORPH_CLOSE, cv::Mat::ones(19, 19, CV_8U));
    const cv::Mat below = background - value;
    double deepest = 0.0;
    cv::minMaxLoc(below, nullptr, &deepest);

    const cv::Mat newValue = brightnessOf(result);
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const cv::Vec3b out = result.at<cv::Vec3b>(y, x);
            if (isGrey(image.at<cv::Vec3b>(y, x))) {
                require(isGrey(out), "grey stays grey");
            }
            const int depth = below.at<uchar>(y, x);
            if (depth == 0) {
                require(newValue.at<uchar>(y, x) == 255, "background at full brightness");
            }
            if (deepest > 0 && depth == deepest) {
                require(out == cv::Vec3b::all(0), "the deepest detail black");
            }
        }
    }
    return 0;
}
