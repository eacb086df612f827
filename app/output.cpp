#include "output.h"

#include "clean_up.h"
#include "platform.h"
#include "png_writer.h"
#include "texts.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

namespace {

constexpr int kNameTries = 100;

// The name of the result's colour profile in its iCCP chunk.
constexpr const char* kProfileName = "ICC profile";

// How long a rename refused because another process holds the file is tried
// again (a virus scanner or a search indexer reads a new file for a
// moment): pauses from the first, each doubled up to the longest, until
// they add up to the whole.
constexpr std::chrono::milliseconds kHeldRetryTime{2000};
constexpr std::chrono::milliseconds kFirstPause{10};
constexpr std::chrono::milliseconds kLongestPause{500};

// The longest temporary name, its terminating null included.
constexpr std::size_t kMaxTemporaryName = 64;

// The temporary name of the `attempt`th try for `name`, or false when it
// does not fit.
bool temporaryName(const std::string& name, int attempt, char (&candidate)[kMaxTemporaryName])
{
    const int length =
        std::snprintf(candidate, sizeof candidate, ".%s.%lu-%d.tmp", name.c_str(), processId(), attempt);
    return length > 0 && static_cast<std::size_t>(length) < sizeof candidate;
}

// Makes the temporary file, registered for removal (clean_up.h) before it
// is made, so that an interruption between the two finds no file and
// removes none, and forgotten when it could not be made.
OsFile* createTemporary(Replacement& replacement)
{
    char candidate[kMaxTemporaryName];
    for (int attempt = 0; attempt < kNameTries && temporaryName(replacement.name, attempt, candidate); ++attempt) {
        registerLeftover(Leftover::file, candidate);
        bool exists = false;
        if (OsFile* file = createNewFile(candidate, exists)) {
            replacement.temporaryName = candidate;
            return file;
        }
        forgetLeftover(Leftover::file);
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
    forgetLeftover(Leftover::file);
    return renamed;
}

Outcome saveResult(const cv::Mat& result, const std::vector<unsigned char>& profile)
{
    const int threads = std::max(cv::getNumThreads(), 1);
    Replacement replacement = beginReplacing(texts::outputName);
    if (replacement.file == nullptr) {
        return failure(ExitStatus::notWritten);
    }
    const ByteSink sink = [&replacement](const unsigned char* bytes, std::size_t size) {
        return writeReplacement(replacement, bytes, size);
    };
    const PngProfile colours{kProfileName, profile.data(), profile.size()};
    const PngWrite png =
        writePng(result, pngRunRows(result.cols), threads, sink, profile.empty() ? nullptr : &colours);
    const bool replaced = finishReplacing(replacement, png.ending == PngWrite::written);
    if (png.ending == PngWrite::failed) {
        return processingFailure(png.failure);
    }
    return replaced ? Outcome{} : failure(ExitStatus::notWritten);
}
