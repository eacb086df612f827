// Windows: one console control handler, installed while anything is
// registered. A temporary file is guarded by a slim reader/writer lock,
// which the handler takes for good; the scratch folder's release is an
// event the handler waits on.
#include "interruption.h"

#include <cstdio>
#include <cwchar>

namespace {

// The temporary file, its name in the buffer while it exists.
SRWLOCK guard = SRWLOCK_INIT;
char temporaryName[64];
bool temporaryExists = false;

// The scratch folder, the pattern that lists it and a buffer for the paths
// of what it holds, set before the handler that reads them is in force and
// not changed after; whether it is registered; the event set once it is
// released, and how long the handler waits for that.
std::wstring scratchFolder;
std::wstring scratchPattern;
wchar_t scratchEntry[2 * MAX_PATH + 2];
volatile bool scratchRegistered = false;
HANDLE scratchReleased = nullptr;
constexpr DWORD kDecodingWaitMillis = 3000;

BOOL WINAPI removeRegisteredAndEnd(DWORD)
{
    if (scratchRegistered && WaitForSingleObject(scratchReleased, kDecodingWaitMillis) != WAIT_OBJECT_0) {
        removeScratchFolder();
    }
    AcquireSRWLockExclusive(&guard);
    if (temporaryExists) {
        DeleteFileA(temporaryName);
    }
    endAsInterrupted();
}

} // namespace

void registerTemporaryFile()
{
    SetConsoleCtrlHandler(removeRegisteredAndEnd, TRUE);
}

void lockTemporaryFile()
{
    AcquireSRWLockExclusive(&guard);
}

void unlockTemporaryFile(const char* existing)
{
    temporaryExists = existing != nullptr;
    if (temporaryExists) {
        std::snprintf(temporaryName, sizeof temporaryName, "%s", existing);
    }
    ReleaseSRWLockExclusive(&guard);
}

void releaseTemporaryFile()
{
    // The lock is free here: a handler running now ends the run, and one
    // waiting to start is not kept from it by the removal.
    SetConsoleCtrlHandler(removeRegisteredAndEnd, FALSE);
}

void registerScratchFolder(const std::wstring& folder)
{
    if (scratchReleased == nullptr) {
        scratchReleased = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ResetEvent(scratchReleased);
    scratchFolder = folder;
    scratchPattern = folder + L"\\*";
    scratchRegistered = true;
    SetConsoleCtrlHandler(removeRegisteredAndEnd, TRUE);
}

void releaseScratchFolder()
{
    removeScratchFolder();
    scratchRegistered = false;
    // Set before the handler is removed: removing it waits for a handler
    // that is running, and that one waits for this.
    SetEvent(scratchReleased);
    SetConsoleCtrlHandler(removeRegisteredAndEnd, FALSE);
}

void removeScratchFolder()
{
    if (!scratchRegistered) {
        return;
    }
    WIN32_FIND_DATAW entry;
    const HANDLE found = FindFirstFileW(scratchPattern.c_str(), &entry);
    if (found != INVALID_HANDLE_VALUE) {
        do {
            const std::size_t folderLength = scratchFolder.size();
            const std::size_t nameLength = std::wcslen(entry.cFileName);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                folderLength + 1 + nameLength < sizeof scratchEntry / sizeof *scratchEntry) {
                std::wmemcpy(scratchEntry, scratchFolder.c_str(), folderLength);
                scratchEntry[folderLength] = L'\\';
                std::wmemcpy(scratchEntry + folderLength + 1, entry.cFileName, nameLength + 1);
                DeleteFileW(scratchEntry);
            }
        } while (FindNextFileW(found, &entry));
        FindClose(found);
    }
    RemoveDirectoryW(scratchFolder.c_str());
}

void endAsInterrupted()
{
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    // TerminateProcess does not return for the calling process; should it
    // fail, the process still ends with the status.
    ExitProcess(STATUS_CONTROL_C_EXIT);
}
