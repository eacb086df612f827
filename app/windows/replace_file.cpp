// Windows: the result file is replaced through Win32 calls; a replacement
// that another program's open handle blocks is tried again for a moment,
// and Ctrl+C, Ctrl+Break or a closed console removes the temporary file
// before the run ends.
#include "console.h"
#include "platform.h"

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

// The temporary file of the write in progress, for the console control
// handler, which runs on a thread of its own. `guard` is held while the
// file is created, renamed or removed, so that the handler sees it either
// before or after; the handler takes it for good, so that no rename
// follows its removal.
SRWLOCK guard = SRWLOCK_INIT;
char temporaryName[64];
bool temporaryExists = false;

BOOL WINAPI removeTemporaryAndEnd(DWORD)
{
    AcquireSRWLockExclusive(&guard);
    if (temporaryExists) {
        DeleteFileA(temporaryName);
    }
    endAsInterrupted();
}

// Creates a new, empty temporary file beside `name`, hidden by its name and
// of this process's own so that concurrent runs never share one; its name
// is then in temporaryName. Deletion is shared, so that the handler can
// remove it while it is being written.
HANDLE createTemporary(const char* name)
{
    AcquireSRWLockExclusive(&guard);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        const int length = std::snprintf(temporaryName, sizeof temporaryName, ".%s.%lu-%d.tmp", name,
                                         GetCurrentProcessId(), attempt);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof temporaryName) {
            break;
        }
        file = CreateFileA(temporaryName, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    temporaryExists = file != INVALID_HANDLE_VALUE;
    ReleaseSRWLockExclusive(&guard);
    return file;
}

void removeTemporary()
{
    AcquireSRWLockExclusive(&guard);
    DeleteFileA(temporaryName);
    temporaryExists = false;
    ReleaseSRWLockExclusive(&guard);
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

// One attempt to rename the temporary file over `target`. Windows refuses
// to replace a read-only file (Wine does not), and a folder of that name
// can never be replaced: neither is tried again. A refusal for a sharing
// violation or denied access (another process has `target` open without
// sharing deletion) may pass.
Rename renameOver(const char* target)
{
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return Rename::refused;
    }
    AcquireSRWLockExclusive(&guard);
    const bool renamed =
        MoveFileExA(temporaryName, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    const DWORD error = GetLastError();
    temporaryExists = !renamed;
    ReleaseSRWLockExclusive(&guard);
    if (renamed) {
        return Rename::done;
    }
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? Rename::blocked : Rename::refused;
}

// Renames the temporary file over `name`, trying again with growing pauses
// while another process blocks it, for about kRetryMillis in all.
bool renameWithRetries(const char* name)
{
    DWORD waited = 0;
    for (DWORD pause = kFirstPauseMillis;; pause = std::min(pause * 2, kLongestPauseMillis)) {
        const Rename result = renameOver(name);
        if (result != Rename::blocked || waited >= kRetryMillis) {
            return result == Rename::done;
        }
        Sleep(pause);
        waited += pause;
    }
}

// replaceFile without the console control handler: the temporary file is
// written, flushed and renamed, or removed.
bool writeAndRename(const char* name, const std::function<bool(const ByteSink&)>& produce)
{
    const HANDLE file = createTemporary(name);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool failed = false;
    const ByteSink sink = [file, &failed](const unsigned char* bytes, std::size_t size) {
        failed = failed || !writeAll(file, bytes, size);
        return !failed;
    };
    const bool written = produce(sink) && !failed && FlushFileBuffers(file);
    const bool closed = CloseHandle(file) != 0;
    if (!written || !closed || !renameWithRetries(name)) {
        removeTemporary();
        return false;
    }
    return true;
}

} // namespace

bool replaceFile(const char* name, const std::function<bool(const ByteSink&)>& produce)
{
    SetConsoleCtrlHandler(removeTemporaryAndEnd, TRUE);
    const bool replaced = writeAndRename(name, produce);
    // The guard is free here: a handler running now ends the run, and one
    // waiting to start is not kept from it by the removal.
    SetConsoleCtrlHandler(removeTemporaryAndEnd, FALSE);
    return replaced;
}
