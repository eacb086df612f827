#include "output.h"

#include "platform.h"
#include "png_writer.h"
#include "texts.h"

#include <algorithm>

bool saveResult(const cv::Mat& result, const char*& encoderFailure)
{
    const int threads = std::max(cv::getNumThreads(), 1);
    encoderFailure = nullptr;
    return replaceFile(texts::outputName, [&](const ByteSink& sink) {
        const PngWrite png = writePng(result, pngRunRows(result.cols), threads, sink);
        encoderFailure = png.failure;
        return png.status == PngWrite::written;
    });
}
