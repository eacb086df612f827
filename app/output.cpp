#include "output.h"

#include "platform.h"
#include "png_writer.h"
#include "texts.h"

#include <algorithm>

Outcome saveResult(const cv::Mat& result)
{
    const int threads = std::max(cv::getNumThreads(), 1);
    Replacement replacement = beginReplacing(texts::outputName);
    if (replacement.file < 0) {
        return failure(status::notWritten);
    }
    const ByteSink sink = [&replacement](const unsigned char* bytes, std::size_t size) {
        return writeReplacement(replacement, bytes, size);
    };
    const PngWrite png = writePng(result, pngRunRows(result.cols), threads, sink);
    const bool replaced = finishReplacing(replacement, png.status == PngWrite::written);
    if (png.status == PngWrite::failed) {
        return processingFailure(png.failure);
    }
    return replaced ? Outcome{} : failure(status::notWritten);
}
