#include "output.h"

#include "platform.h"
#include "texts.h"

#include <opencv2/imgcodecs.hpp>

#include <vector>

bool saveResult(const cv::Mat& result)
{
    // Encoding in memory first gives the same bytes as writing the file
    // directly, but lets a failed write leave the earlier file untouched.
    std::vector<unsigned char> png;
    if (!cv::imencode(".png", result, png)) {
        return false;
    }
    return replaceFile(texts::outputName, png.data(), png.size());
}
