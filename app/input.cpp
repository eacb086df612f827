#include "input.h"

#include "colour_image.h"
#include "platform.h"
#include "texts.h"

#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The setting that gives the image library the folder for the temporary
// copies it decodes some formats from (those whose decoders cannot read
// from memory); without it they go to the system's temporary folder.
constexpr const char* kTemporaryPathSetting = "OPENCV_TEMP_PATH";

// The run's own folder for those copies while the decoding is guarded,
// which an interruption and a crash remove, and the status a crash exits
// with.
std::atomic<PrivateFolder*> scratchFolder{nullptr};
int crashStatus = 0;

void removeScratchFolder()
{
    if (PrivateFolder* folder = scratchFolder) {
        removePrivateFolder(folder);
    }
}

[[noreturn]] void exitAfterCrash()
{
    removeScratchFolder();
    printPreparedText();
    waitOnOwnConsole();
    std::_Exit(crashStatus);
}

// The library's temporary-folder setting before the guard changed it.
struct Setting {
    bool wasSet;
    std::string value;
};

// From guardDecoding to endGuardingDecoding, a crash prints `text` and
// exits with `exitStatus`, and the library's temporary copies go to a new
// private folder inside the one it would use, which an interruption (before
// it ends the run as the system would), a crash and endGuardingDecoding
// remove with what it holds. When the folder cannot be made, the copies go
// where they would have gone.
Setting guardDecoding(const char* text, int exitStatus)
{
    std::fflush(stdout);  // what was printed before stays before the text
    const char* setting = std::getenv(kTemporaryPathSetting);
    const Setting before{setting != nullptr, setting != nullptr ? setting : ""};
    prepareText(text);
    crashStatus = exitStatus;
    PrivateFolder* folder = makePrivateFolder(before.value.empty() ? nullptr : before.value.c_str());
    if (folder != nullptr) {
        scratchFolder = folder;
        handleInterruptions(removeScratchFolder);
        setEnvironment(kTemporaryPathSetting, folderPath(folder));
    }
    handleCrashes(exitAfterCrash);
    return before;
}

void endGuardingDecoding(const Setting& before)
{
    endHandlingCrashes();
    if (scratchFolder == nullptr) {
        return;
    }
    removeScratchFolder();
    scratchFolder = nullptr;
    endHandlingInterruptions();
    setEnvironment(kTemporaryPathSetting, before.wasSet ? before.value.c_str() : nullptr);
}

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
    const Setting before = guardDecoding(texts::readError, status::unreadableInput);
    const Outcome decoded = guarded([&] { return openAndDecode(path, image); });
    closeInputFile();
    endGuardingDecoding(before);
    if (!succeeded(decoded)) {
        return decoded;
    }
    return guarded([&] { return toEightBitColour(image) ? Outcome{} : failure(status::unreadableInput); });
}
