#include "output.h"

#include "platform.h"
#include "png_writer.h"
#include "texts.h"

#include <algorithm>

bool saveResult(const cv::Mat& result, const char*& encoderFailure)
{
    const int threads = std::max(cv::getNumThreads(), 1);
    encoderFailure = nullptr;
    Replacement replacement = beginReplacing(texts::outputName);
    if (replacement.file < 0) {
        return false;
    }
    const ByteSink sink = [&replacement](const unsigned char* bytes, std::size_t size) {
        return writeReplacement(replacement, bytes, size);
    };
    const PngWrite png = writePng(result, pngRunRows(result.cols), threads, sink);
    encoderFailure = png.failure;
    return finishReplacing(replacement, png.status == PngWrite::written);
}
