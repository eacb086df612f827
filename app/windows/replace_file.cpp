// Windows: the result file is replaced through Win32 calls. The temporary
// file is created beside it with CREATE_NEW, sharing only deletion (so that
// the interruption handler can remove it while it is written), named after
// the process id (another attempt's number on a clash); it is flushed with
// FlushFileBuffers and renamed over the file with MoveFileEx
// (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), which replaces a
// symbolic link rather than writing through it. A read-only file or a
// folder of that name is never replaced (Windows refuses the first, Wine
// would not). A rename that another process blocks (it holds the file open
// without sharing deletion: a virus scanner, an image viewer) is tried
// again with growing pauses for about two seconds. The temporary file is
// registered for removal on interruption (interruption.h): a rename under
// way is finished first.
#include "platform.h"

#include "interruption.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace {

// How long a replacement refused because another process holds `name`
// open is tried again (a virus scanner or the search indexer reads a new
// file for a moment), in milliseconds of pauses; the first pause, doubled
// each time up to the longest.
constexpr DWORD kRetryMillis = 2000;
constexpr DWORD kFirstPauseMillis = 10;
constexpr DWORD kLongestPauseMillis = 500;

// Creates a new, empty temporary file beside `name` and names it in
// `temporaryName`.
HANDLE createTemporary(const std::string& name, std::string& temporaryName)
{
    lockTemporaryFile();
    HANDLE file = INVALID_HANDLE_VALUE;
    char candidate[64];
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        const int length = std::snprintf(candidate, sizeof candidate, ".%s.%lu-%d.tmp", name.c_str(),
                                         GetCurrentProcessId(), attempt);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof candidate) {
            break;
        }
        file = CreateFileA(candidate, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    const bool created = file != INVALID_HANDLE_VALUE;
    unlockTemporaryFile(created ? candidate : nullptr);
    if (created) {
        temporaryName = candidate;
    }
    return file;
}

void removeTemporary(const std::string& temporaryName)
{
    lockTemporaryFile();
    DeleteFileA(temporaryName.c_str());
    unlockTemporaryFile(nullptr);
}

bool writeAll(HANDLE file, const unsigned char* bytes, std::size_t size)
{
    while (size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

enum class Rename { done, refused, blocked };

// One attempt to rename the temporary file over `target`. A refusal for a
// sharing violation or denied access (another process has `target` open
// without sharing deletion) may pass.
Rename renameOver(const std::string& temporaryName, const char* target)
{
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return Rename::refused;
    }
    lockTemporaryFile();
    const bool renamed =
        MoveFileExA(temporaryName.c_str(), target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    const DWORD error = GetLastError();
    unlockTemporaryFile(renamed ? nullptr : temporaryName.c_str());
    if (renamed) {
        return Rename::done;
    }
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? Rename::blocked : Rename::refused;
}

// Renames the temporary file over `name`, trying again with growing pauses
// while another process blocks it, for about kRetryMillis in all.
bool renameWithRetries(const std::string& temporaryName, const char* name)
{
    DWORD waited = 0;
    for (DWORD pause = kFirstPauseMillis;; pause = std::min(pause * 2, kLongestPauseMillis)) {
        const Rename result = renameOver(temporaryName, name);
        if (result != Rename::blocked || waited >= kRetryMillis) {
            return result == Rename::done;
        }
        Sleep(pause);
        waited += pause;
    }
}

} // namespace

Replacement beginReplacing(const char* name)
{
    Replacement replacement{name, std::string(), -1, false};
    registerTemporaryFile();
    const HANDLE file = createTemporary(replacement.name, replacement.temporaryName);
    if (file == INVALID_HANDLE_VALUE) {
        releaseTemporaryFile();
        return replacement;
    }
    replacement.file = reinterpret_cast<std::intptr_t>(file);
    return replacement;
}

bool writeReplacement(Replacement& replacement, const unsigned char* bytes, std::size_t size)
{
    replacement.failed = replacement.failed || replacement.file < 0 ||
                         !writeAll(reinterpret_cast<HANDLE>(replacement.file), bytes, size);
    return !replacement.failed;
}

bool finishReplacing(Replacement& replacement, bool keep)
{
    if (replacement.file < 0) {
        return false;
    }
    const auto file = reinterpret_cast<HANDLE>(replacement.file);
    replacement.file = -1;
    const bool written = keep && !replacement.failed && FlushFileBuffers(file);
    const bool closed = CloseHandle(file) != 0;
    const bool replaced =
        written && closed && renameWithRetries(replacement.temporaryName, replacement.name.c_str());
    if (!replaced) {
        removeTemporary(replacement.temporaryName);
    }
    releaseTemporaryFile();
    return replaced;
}
