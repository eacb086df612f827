#include "colour_image.h"

#include <opencv2/imgproc.hpp>

bool toEightBitColour(cv::Mat& image)
{
    if (image.depth() != CV_8U) {
        image.convertTo(image, CV_8U);
    }
    switch (image.channels()) {
    case 1:
        cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
        return true;
    case 3:
        return true;
    case 4:
        cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
        return true;
    default:
        return false;
    }
}
