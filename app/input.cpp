#include "input.h"

#include "clean_up.h"
#include "colour_image.h"
#include "input_profile.h"
#include "platform.h"
#include "texts.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// The largest input the in-memory decoder takes, in bytes.
constexpr std::size_t kMaxInputBytes = INT_MAX;

// readToEnd, with a failed allocation leaving as std::bad_alloc; false
// when the input is unreadable.
bool readToEndOrThrow(OsFile* file, std::vector<unsigned char>& bytes, std::size_t expected)
{
    constexpr std::size_t kFirstBuffer = std::size_t{1} << 20;
    if (expected > kMaxInputBytes) {
        return false;
    }
    std::size_t used = 0;
    bytes.resize(std::max(expected + 1, kFirstBuffer));
    for (;;) {
        if (used == bytes.size()) {
            if (used > kMaxInputBytes) {
                return false;
            }
            bytes.resize(std::min(2 * used, kMaxInputBytes + 1));
        }
        const long long got = readFile(file, bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    bytes.resize(used);
    return used <= kMaxInputBytes;
}

// readToEnd
//
//   Fills `bytes` with what `file` delivers (readFile) until its end. The
//   buffer starts one byte larger than `expected`, the size a file on disk
//   has, so that such a file is read without growing it; otherwise (a pipe:
//   pass 0) it grows by doubling. Gives back success, or
//   ExitStatus::unreadableInput on an error; unreadable, reading nothing,
//   when `expected` is over kMaxInputBytes, or once more than kMaxInputBytes
//   have arrived, so that an endless input is not read forever; out of
//   memory when the buffer cannot grow. After a failure `bytes` is empty,
//   its memory given back.
Outcome readToEnd(OsFile* file, std::vector<unsigned char>& bytes, std::size_t expected)
{
    const Outcome outcome = guarded([&] {
        return readToEndOrThrow(file, bytes, expected) ? Outcome{} : failure(ExitStatus::unreadableInput);
    });
    if (!succeeded(outcome)) {
        bytes = std::vector<unsigned char>();
    }
    return outcome;
}

// The input, readied for decoding.
struct InputFile {
    std::string readerPath;           // a name cv::imread takes, or empty
    std::vector<unsigned char> bytes; // else the input, read to its end
    OsFile* held;                     // the file readerPath names, open until decoded
};

// openInputFile
//
//   Opens the file at `path` once and readies it in `input` so that it
//   decodes to the pixels of cv::imread wherever it can: `readerPath` names
//   the very file opened, which stays open as `held`; where it has no such
//   name, or can be read only once (a pipe), `bytes` holds it, read to its
//   end. Gives back ExitStatus::unreadableInput when the file cannot be
//   opened or read, is empty, is a device (never read), or holds more than
//   kMaxInputBytes to be read; out of memory when memory ran out reading it.
Outcome openInputFile(const std::string& path, InputFile& input)
{
    FileKind kind = FileKind::device;
    std::size_t size = 0;
    OsFile* file = openForReading(path, kind, size);
    if (file == nullptr) {
        return failure(ExitStatus::unreadableInput);
    }
    Outcome outcome = failure(ExitStatus::unreadableInput);
    if (kind != FileKind::device) {
        input.readerPath = kind == FileKind::regular ? readerName(file) : std::string();
        outcome = !input.readerPath.empty() ? Outcome{}
                                            : readToEnd(file, input.bytes, kind == FileKind::regular ? size : 0);
    }
    if (input.readerPath.empty()) {
        closeFile(file);
    } else {
        input.held = file;
    }
    const bool empty = input.readerPath.empty() && input.bytes.empty();
    return succeeded(outcome) && empty ? failure(ExitStatus::unreadableInput) : outcome;
}

// The setting that gives OpenCV the folder for the temporary copies it
// decodes some formats from (those whose decoders cannot read from memory);
// without it they go to the system's temporary folder.
constexpr const char* kTemporaryPathSetting = "OPENCV_TEMP_PATH";

// The status a crash while decoding exits with.
int crashStatus = 0;

// A number that no other user can foresee, so that a folder that all may
// write in (/tmp) cannot be filled with the scratch folder's names
// beforehand; the clock's when the system has no source of randomness.
unsigned int unforeseeable()
{
    try {
        return std::random_device()();
    } catch (const std::exception&) {
        return static_cast<unsigned int>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
}

// Makes the scratch folder inside `parent`, "lumaLeveller.<process
// id>-<n>", n eight hex digits, from an unforeseeable number on, the first
// of 100 that nothing has, and registers it for removal (clean_up.h) once
// made, so that an interruption never removes a folder of another's; its
// path, or empty when none could be made.
std::string makeScratchFolder(const std::string& parent)
{
    constexpr unsigned int kNameTries = 100;
    const char* separator = !parent.empty() && parent.back() == '/' ? "" : "/";
    const unsigned int first = unforeseeable();
    char folder[kMaxLeftoverPath];
    for (unsigned int attempt = 0; attempt < kNameTries && !parent.empty(); ++attempt) {
        const int length = std::snprintf(folder, sizeof folder, "%s%slumaLeveller.%lu-%08x", parent.c_str(),
                                         separator, processId(), first + attempt);
        bool exists = false;
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof folder) {
            return std::string();
        }
        if (makeFolder(folder, exists)) {
            registerLeftover(Leftover::folder, folder);
            return folder;
        }
        if (!exists) {
            return std::string();
        }
    }
    return std::string();
}

// Removes the scratch folder at the decoding's end. A file in it that
// another process holds open (a virus scanner, on Windows) keeps it for a
// moment: tried again every 20 ms for up to three seconds.
void removeScratchFolder(const std::string& folder)
{
    constexpr std::chrono::milliseconds kPause{20};
    for (int tries = 0; !removeFolder(folder.c_str()) && tries < 150; ++tries) {
        std::this_thread::sleep_for(kPause);
    }
    forgetLeftover(Leftover::folder);
}

[[noreturn]] void exitAfterCrash()
{
    removeLeftovers();
    printPreparedText();
    waitOnOwnConsole();
    std::_Exit(crashStatus);
}

// OpenCV's temporary-folder setting before the guard changed it, and the
// scratch folder made in its place (empty: none).
struct Setting {
    bool wasSet;
    std::string value;
    std::string scratchFolder;
};

// From guardDecoding to endGuardingDecoding, a crash prints `text` and
// exits with `exitStatus`, and OpenCV's temporary copies go to a new private
// folder inside the one it would use, which an interruption, a crash and
// endGuardingDecoding remove with what it holds. When the folder cannot be
// made, the copies go where they would have gone.
Setting guardDecoding(const char* text, ExitStatus exitStatus)
{
    std::fflush(stdout);  // what was printed before stays before the text
    const char* setting = std::getenv(kTemporaryPathSetting);
    Setting before{setting != nullptr, setting != nullptr ? setting : "", std::string()};
    before.scratchFolder = makeScratchFolder(before.value.empty() ? temporaryFolder() : before.value);
    if (!before.scratchFolder.empty()) {
        setEnvironment(kTemporaryPathSetting, before.scratchFolder.c_str());
    }
    crashStatus = static_cast<int>(exitStatus);
    prepareText(text);
    handleCrashes(exitAfterCrash);
    return before;
}

void endGuardingDecoding(const Setting& before)
{
    endHandlingCrashes();
    if (!before.scratchFolder.empty()) {
        setEnvironment(kTemporaryPathSetting, before.wasSet ? before.value.c_str() : nullptr);
        removeScratchFolder(before.scratchFolder);
    }
}

// Decodes `input`: by cv::imread when it has a name for it, else from its
// bytes by cv::imdecode. OpenCV refuses some files by raising (a header
// claiming more pixels than it accepts, say): those are unreadable inputs.
Outcome decode(const InputFile& input, cv::Mat& image)
{
    errno = 0;
    return guarded(
        [&] {
            image = input.readerPath.empty() ? cv::imdecode(input.bytes, cv::IMREAD_COLOR)
                                             : cv::imread(input.readerPath, cv::IMREAD_COLOR);
            // The decoders catch a failed allocation of their own working
            // memory (a progressive JPEG's coefficients, say) and return no
            // image, as for a broken file; only the ENOMEM of that allocation
            // tells the two apart.
            if (image.empty()) {
                return errno == ENOMEM ? outOfMemory() : failure(ExitStatus::unreadableInput);
            }
            return Outcome{};
        },
        ExitStatus::unreadableInput);
}

} // namespace

Outcome readImage(const std::string& path, cv::Mat& image, std::vector<unsigned char>* profile)
{
    InputFile input{std::string(), std::vector<unsigned char>(), nullptr};
    Outcome outcome = guarded([&] { return openInputFile(path, input); });
    if (!succeeded(outcome)) {
        return outcome;
    }
    // Some third-party decoders abort on malformed files (a truncated DICOM
    // file, say) instead of reporting an error: such a file is unreadable.
    const Setting before = guardDecoding(texts::readError, ExitStatus::unreadableInput);
    outcome = guarded([&] { return decode(input, image); });
    if (succeeded(outcome) && profile != nullptr) {
        *profile = inputProfile(input.held, input.bytes);
    }
    endGuardingDecoding(before);
    if (input.held != nullptr) {
        closeFile(input.held);
    }
    if (!succeeded(outcome)) {
        return outcome;
    }
    return guarded([&] { return toEightBitColour(image) ? Outcome{} : failure(ExitStatus::unreadableInput); });
}
