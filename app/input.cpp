#include "input.h"

#include "colour_image.h"
#include "platform.h"
#include "texts.h"

#include <opencv2/imgcodecs.hpp>

#include <cerrno>

namespace {

// Decodes `input`: by the library's file reader when it has a name for it,
// else from its bytes.
Outcome decode(const InputFile& input, cv::Mat& image)
{
    errno = 0;
    try {
        image = input.readerPath.empty() ? cv::imdecode(input.bytes, cv::IMREAD_COLOR)
                                         : cv::imread(input.readerPath, cv::IMREAD_COLOR);
    } catch (const cv::Exception& error) {
        // The reader refuses some files by raising (a header claiming more
        // pixels than it accepts, say): those are unreadable inputs.
        if (isOutOfMemory(error)) {
            return raised(error);
        }
    }
    if (image.empty()) {
        // The decoders catch a failed allocation of their own working memory
        // (a progressive JPEG's coefficients, say) and return no image, as
        // for a broken file; only the ENOMEM of that allocation tells the two
        // apart.
        return errno == ENOMEM ? outOfMemory() : failure(status::unreadableInput);
    }
    return Outcome{};
}

Outcome openAndDecode(const std::string& path, cv::Mat& image)
{
    const InputFile input = openInputFile(path);
    switch (input.status) {
    case InputFile::outOfMemory:
        return outOfMemory();
    case InputFile::unreadable:
        return failure(status::unreadableInput);
    case InputFile::opened:
        break;
    }
    if (input.readerPath.empty() && input.bytes.empty()) {
        return failure(status::unreadableInput);
    }
    return decode(input, image);
}

} // namespace

Outcome readImage(const std::string& path, cv::Mat& image)
{
    // Some third-party decoders abort on malformed files (a truncated DICOM
    // file, say) instead of reporting an error: such a file is unreadable.
    exitOnCrash(texts::readError, status::unreadableInput);
    const Outcome decoded = guarded([&] { return openAndDecode(path, image); });
    closeInputFile();
    endExitOnCrash();
    if (!succeeded(decoded)) {
        return decoded;
    }
    return guarded([&] { return toEightBitColour(image) ? Outcome{} : failure(status::unreadableInput); });
}
