// Writes the JPEG 2000 and OpenEXR images that the Windows build must read
// as the Linux build does: colour and grey, 8 and 16 bit JPEG 2000, half
// and float OpenEXR, all of one photograph-like scene.
//
//   format_samples FOLDER
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A lit page with a shadow across it, dark print and a coloured mark, as
// floating-point BGR samples from 0 to 1.
cv::Mat scene()
{
    cv::Mat image(120, 160, CV_32FC3);
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const float light = 0.35f + 0.55f * static_cast<float>(x) / static_cast<float>(image.cols);
            image.at<cv::Vec3f>(y, x) = cv::Vec3f(0.80f, 0.86f, 0.91f) * light;
        }
    }
    cv::rectangle(image, {30, 40}, {50, 100}, cv::Scalar(0.31, 0.19, 0.13), cv::FILLED);
    cv::circle(image, {110, 60}, 15, cv::Scalar(0.13, 0.19, 0.63), cv::FILLED);
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: format_samples FOLDER\n", stderr);
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    const cv::Mat colour = scene();
    cv::Mat grey, colour8, grey8, colour16, grey16;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    colour.convertTo(colour8, CV_8U, 255);
    grey.convertTo(grey8, CV_8U, 255);
    colour.convertTo(colour16, CV_16U, 65535);
    grey.convertTo(grey16, CV_16U, 65535);
    const std::vector<int> half = {cv::IMWRITE_EXR_TYPE, cv::IMWRITE_EXR_TYPE_HALF};
    const std::vector<int> full = {cv::IMWRITE_EXR_TYPE, cv::IMWRITE_EXR_TYPE_FLOAT};
    const bool written = cv::imwrite(folder + "colour8.jp2", colour8) && cv::imwrite(folder + "grey8.jp2", grey8) &&
                         cv::imwrite(folder + "colour16.jp2", colour16) && cv::imwrite(folder + "grey16.jp2", grey16) &&
                         cv::imwrite(folder + "half.exr", colour * 255, half) &&
                         cv::imwrite(folder + "float.exr", colour * 255, full) &&
                         cv::imwrite(folder + "grey-half.exr", grey * 255, half);
    return written ? 0 : 1;
}
