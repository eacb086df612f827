// lumaLeveller: evens out the lighting of a colour photograph.
//
//   lumaLeveller IMAGE
//
// Reads IMAGE, flattens its illumination, writes the result to
// "lumaLeveller.png" in the working directory, shows it and confirms with a
// notice. The exit status tells the outcome (see texts.h).
#include "colour_image.h"
#include "illumination.h"
#include "output.h"
#include "platform.h"
#include "presentation.h"
#include "texts.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace {

int fail(const char* text, int exitStatus)
{
    printText(text);
    return exitStatus;
}

// `reason` as one line: its lines, trimmed, joined by spaces. The library's
// checks quote the failed condition and the values involved on lines of
// their own, each marked with "> "; the marks go too.
std::string oneLine(const std::string& reason)
{
    std::istringstream lines(reason);
    std::string joined;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t first = line.find_first_not_of("> \t\r");
        if (first == std::string::npos) {
            continue;
        }
        const std::size_t last = line.find_last_not_of(" \t\r");
        joined += (joined.empty() ? "" : " ") + line.substr(first, last - first + 1);
    }
    return joined;
}

int processingFailed(const std::string& reason)
{
    return fail((texts::processingErrorPrefix + oneLine(reason) + "\n").c_str(), status::processingFailed);
}

// Reports an error raised while processing: the library's own short reason,
// "out of memory" for a failed allocation, the message of any other
// standard exception (a thread the library could not start, say).
int processingFailed(const std::exception& error)
{
    if (const auto* libraryError = dynamic_cast<const cv::Exception*>(&error)) {
        return processingFailed(libraryError->err);
    }
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
        return processingFailed(texts::outOfMemoryReason);
    }
    return processingFailed(error.what());
}

bool isOutOfMemory(const cv::Exception& error)
{
    return error.code == cv::Error::StsNoMem;
}

int usage()
{
    printText(texts::banner);
    printText(texts::usage);
    std::fflush(stdout); // the texts show before the pause, even through a pipe
    std::getchar();
    return status::wrongArguments;
}

// Decodes the input as openInputFile readied it: by the library's file
// reader when it has a name for it, else from its bytes. Returns
// status::success with the image in `image`, or reports why not and returns
// the status to end with.
int decodeInput(const std::string& readerPath, const std::vector<unsigned char>& bytes, cv::Mat& image)
{
    if (readerPath.empty() && bytes.empty()) {
        return fail(texts::readError, status::unreadableInput);
    }
    errno = 0;
    try {
        image = readerPath.empty() ? cv::imdecode(bytes, cv::IMREAD_COLOR) : cv::imread(readerPath, cv::IMREAD_COLOR);
    } catch (const cv::Exception& error) {
        // The reader refuses some files by raising (a header claiming more
        // pixels than it accepts, say): those are unreadable inputs.
        if (isOutOfMemory(error)) {
            return processingFailed(error);
        }
    } catch (const std::exception& error) {
        // Reported here rather than in main, so that the crash guard around
        // the decoding ends with it.
        return processingFailed(error);
    }
    if (image.empty()) {
        // The decoders catch a failed allocation of their own working memory
        // (a progressive JPEG's coefficients, say) and return no image, as
        // for a broken file; only the ENOMEM of that allocation tells the two
        // apart.
        if (errno == ENOMEM) {
            return processingFailed(texts::outOfMemoryReason);
        }
        return fail(texts::readError, status::unreadableInput);
    }
    return status::success;
}

// Reads the image at `path` into `image` as the library's colour read of
// the file gives it (cv::imread): 8-bit colour for nearly every file (see
// toEightBitColour in colour_image.h). The file is opened once; a regular
// file is decoded by the library's file reader, which gives what arrived of
// a file cut short, while a pipe is read to its end and decoded from memory
// (see openInputFile). Returns status::success, or reports why not and
// returns the status to end with.
int readInput(const std::string& path, cv::Mat& image)
{
    std::string readerPath;
    std::vector<unsigned char> bytes;
    errno = 0;
    if (!openInputFile(path, readerPath, bytes)) {
        return errno == ENOMEM ? processingFailed(texts::outOfMemoryReason)
                               : fail(texts::readError, status::unreadableInput);
    }
    const int decoded = decodeInput(readerPath, bytes, image);
    closeInputFile();
    return decoded;
}

// One run on the image at `path`. Exhaustion of memory anywhere, and any
// other error of the library or the standard library while filtering,
// leave as their exceptions for main to report.
int run(const std::string& path)
{
    // Some third-party decoders abort on malformed files (a truncated DICOM
    // file, say) instead of reporting an error: such a file is unreadable.
    cv::Mat image;
    exitOnCrash(texts::readError, status::unreadableInput);
    const int readStatus = readInput(path, image);
    endExitOnCrash();
    if (readStatus != status::success) {
        return readStatus;
    }
    if (!toEightBitColour(image)) {
        return fail(texts::readError, status::unreadableInput);
    }

    // The result takes the input's place: the input is not needed again.
    flattenIlluminationInPlace(image);
    const cv::Mat& result = image;

    const char* encoderFailure = nullptr;
    if (!saveResult(result, encoderFailure)) {
        return encoderFailure != nullptr ? processingFailed(encoderFailure)
                                         : fail(texts::writeError, status::notWritten);
    }

    exitOnDisplayFailure(texts::showError, status::notShown);
    try {
        presentResult(result);
    } catch (const cv::Exception& error) {
        if (isOutOfMemory(error)) {
            return processingFailed(error);
        }
        return fail(texts::showError, status::notShown);
    }
    return status::success;
}

} // namespace

int main(int argc, char** argv)
{
    // The library's own warnings on stderr would repeat what the program's
    // texts say; its errors still show.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);

    const std::vector<std::string> arguments = programArguments(argc, argv);
    if (arguments.size() != 1) {
        return usage();
    }
    int exitStatus = status::success;
    try {
        exitStatus = run(arguments[0]);
    } catch (const std::exception& error) {
        exitStatus = processingFailed(error);
    }
    // Every other outcome has printed its text, which a console of the
    // program's own would take away with it.
    if (exitStatus != status::success) {
        waitOnOwnConsole();
    }
    return exitStatus;
}
