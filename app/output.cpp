#include "output.h"

#include "platform.h"
#include "png_writer.h"
#include "texts.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

namespace {

constexpr int kNameTries = 100;

// How long a rename refused because another process holds the file is tried
// again (a virus scanner or a search indexer reads a new file for a
// moment): pauses from the first, each doubled up to the longest, until
// they add up to the whole.
constexpr std::chrono::milliseconds kHeldRetryTime{2000};
constexpr std::chrono::milliseconds kFirstPause{10};
constexpr std::chrono::milliseconds kLongestPause{500};

// The temporary file an interruption removes. The name is in place before
// the flag is set, and the flag cleared before the name changes, so that
// the clean-up, on whatever thread, reads it whole. Set before the file is
// made and cleared once it is renamed or removed: a clean-up between finds
// no file and removes none.
char registeredName[64];
std::atomic<bool> nameRegistered{false};

// The temporary name of the `attempt`th try for `name`, or false when it
// does not fit.
bool temporaryName(const std::string& name, int attempt, char (&candidate)[sizeof registeredName])
{
    const int length =
        std::snprintf(candidate, sizeof candidate, ".%s.%lu-%d.tmp", name.c_str(), processId(), attempt);
    return length > 0 && static_cast<std::size_t>(length) < sizeof candidate;
}

// Makes the temporary file, registered for removal.
OsFile* createTemporary(Replacement& replacement)
{
    char candidate[sizeof registeredName];
    for (int attempt = 0; attempt < kNameTries && temporaryName(replacement.name, attempt, candidate); ++attempt) {
        std::copy(std::begin(candidate), std::end(candidate), registeredName);
        nameRegistered = true;
        bool exists = false;
        if (OsFile* file = createNewFile(candidate, exists)) {
            replacement.temporaryName = candidate;
            return file;
        }
        nameRegistered = false;
        if (!exists) {
            break;
        }
    }
    return nullptr;
}

// Writes all `size` bytes; false when the system took not all.
bool writeAll(OsFile* file, const unsigned char* bytes, std::size_t size)
{
    while (size > 0) {
        const long long written = writeFile(file, bytes, size);
        if (written <= 0) {
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// renameOver, tried again while another process holds `to`.
bool renameWhenFree(const char* from, const char* to)
{
    auto waited = std::chrono::milliseconds{0};
    for (auto pause = kFirstPause;; pause = std::min(2 * pause, kLongestPause)) {
        bool held = false;
        if (renameOver(from, to, held)) {
            return true;
        }
        if (!held || waited >= kHeldRetryTime) {
            return false;
        }
        std::this_thread::sleep_for(pause);
        waited += pause;
    }
}

} // namespace

void removeTemporaryFile()
{
    if (nameRegistered) {
        removeFile(registeredName);
    }
}

Replacement beginReplacing(const char* name)
{
    Replacement replacement{name, std::string(), nullptr, false};
    replacement.file = createTemporary(replacement);
    return replacement;
}

bool writeReplacement(Replacement& replacement, const unsigned char* bytes, std::size_t size)
{
    replacement.failed =
        replacement.failed || replacement.file == nullptr || !writeAll(replacement.file, bytes, size);
    return !replacement.failed;
}

bool finishReplacing(Replacement& replacement, bool keep)
{
    OsFile* file = std::exchange(replacement.file, nullptr);
    if (file == nullptr) {
        return false;
    }
    const bool written = keep && !replacement.failed && flushFile(file);
    const bool closed = closeFile(file);
    const char* temporary = replacement.temporaryName.c_str();
    const bool renamed = written && closed && renameWhenFree(temporary, replacement.name.c_str());
    if (!renamed) {
        removeFile(temporary);
    }
    nameRegistered = false;
    return renamed;
}

Outcome saveResult(const cv::Mat& result)
{
    const int threads = std::max(cv::getNumThreads(), 1);
    Replacement replacement = beginReplacing(texts::outputName);
    if (replacement.file == nullptr) {
        return failure(ExitStatus::notWritten);
    }
    const ByteSink sink = [&replacement](const unsigned char* bytes, std::size_t size) {
        return writeReplacement(replacement, bytes, size);
    };
    const PngWrite png = writePng(result, pngRunRows(result.cols), threads, sink);
    const bool replaced = finishReplacing(replacement, png.ending == PngWrite::written);
    if (png.ending == PngWrite::failed) {
        return processingFailure(png.failure);
    }
    return replaced ? Outcome{} : failure(ExitStatus::notWritten);
}
