// Windows: a crash inside a third-party decoder ends the run with a text and
// a status; neither a crash nor an interruption while decoding leaves the
// library's temporary copy of the input behind.
#include "console.h"
#include "platform.h"
#include "text_encoding.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

// The setting that gives the image library the folder for the temporary
// copies it decodes some formats from (those whose decoders cannot read
// from memory: OpenEXR, Radiance HDR, PFM, Sun raster); without it they go
// to the user's temporary folder. The library reads it with getenv, in the
// ANSI code page.
constexpr const char* kTemporaryPathSetting = "OPENCV_TEMP_PATH";

// What exitAfterCrash prints, as printText would print it (with its line
// feed): UTF-16 for a console, bytes in the console's code page otherwise,
// both made before the guard is in force, since a crashed process must not
// allocate. The status it exits with.
std::wstring crashWideText;
std::string crashBytes;
int crashStatus = 0;
constexpr int kCrashes[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV};

// The private folder for the library's temporary copies, the pattern that
// lists it and a buffer for the paths of what it holds, set before the
// handlers that read them are in force and not changed after; whether it
// is in use; the setting it replaced.
std::wstring scratchFolder;
std::wstring scratchPattern;
wchar_t scratchEntry[2 * MAX_PATH + 2];
volatile bool scratchInUse = false;
bool temporaryPathWasSet = false;
std::string temporaryPathBefore;

// Set once endExitOnCrash has removed the folder, for the console control
// handler to wait on; how long it waits.
HANDLE decodingEnded = nullptr;
constexpr DWORD kDecodingWaitMillis = 3000;

// Removes the scratch folder with the files that lie in it. A file that is
// still open cannot be removed, nor then the folder.
void removeScratchFolder()
{
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

// Makes a new private folder inside the user's temporary folder and points
// the library's temporary copies to it. When it cannot be made, or its path
// cannot be given in the ANSI code page that the library reads it in, the
// copies go where they would have gone.
void useScratchFolder()
{
    wchar_t base[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) {
        return;
    }
    std::wstring folder;
    for (int attempt = 0; attempt < 100; ++attempt) {
        folder = base + (L"lumaLeveller." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt));
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            break;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt == 99) {
            return;
        }
    }
    std::string ansiFolder;
    if (!toCodePageExactly(folder, CP_ACP, ansiFolder)) {
        RemoveDirectoryW(folder.c_str());
        return;
    }
    const char* setting = std::getenv(kTemporaryPathSetting);
    temporaryPathWasSet = setting != nullptr;
    temporaryPathBefore = temporaryPathWasSet ? setting : "";
    scratchFolder = folder;
    scratchPattern = folder + L"\\*";
    scratchInUse = true;
    _putenv_s(kTemporaryPathSetting, ansiFolder.c_str());
}

void endScratchFolder()
{
    if (!scratchInUse) {
        return;
    }
    removeScratchFolder();
    scratchInUse = false;
    // An empty value removes the setting.
    _putenv_s(kTemporaryPathSetting, temporaryPathWasSet ? temporaryPathBefore.c_str() : "");
}

// Closes the files that the crashed decoder left open through the C
// library (the copy of the input among them, which could not be removed
// open), removes the scratch folder, prints the text, waits on a console of
// the program's own as a run that returns with a text does, and exits.
void exitAfterCrash(int)
{
    if (scratchInUse) {
        _fcloseall();
        removeScratchFolder();
    }
    const HANDLE console = outputConsole();
    if (console != nullptr) {
        DWORD written = 0;
        WriteConsoleW(console, crashWideText.data(), static_cast<DWORD>(crashWideText.size()), &written, nullptr);
    } else {
        std::fwrite(crashBytes.data(), 1, crashBytes.size(), stdout);
        std::fflush(stdout);
    }
    waitOnOwnConsole();
    std::_Exit(crashStatus);
}

// Ctrl+C, Ctrl+Break or a closed console while decoding. The handler runs
// on a thread of its own while the decoder goes on, and the library's copy
// cannot be removed while the decoder has it open; so the run ends once the
// decoding has and endExitOnCrash has removed the folder, or, when that
// takes longer than kDecodingWaitMillis (a huge file, or an input that a
// pipe is slow to deliver), after removing what it can.
BOOL WINAPI removeScratchAndEnd(DWORD)
{
    if (WaitForSingleObject(decodingEnded, kDecodingWaitMillis) != WAIT_OBJECT_0 && scratchInUse) {
        removeScratchFolder();
    }
    endAsInterrupted();
}

} // namespace

void exitOnCrash(const char* text, int exitStatus)
{
    std::fflush(stdout);
    crashWideText = toWide(text) + L"\n";
    crashBytes = toCodePage(crashWideText, byteCodePage());
    crashStatus = exitStatus;
    if (decodingEnded == nullptr) {
        decodingEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ResetEvent(decodingEnded);
    useScratchFolder();
    SetConsoleCtrlHandler(removeScratchAndEnd, TRUE);
    for (const int signalNumber : kCrashes) {
        std::signal(signalNumber, exitAfterCrash);
    }
}

void endExitOnCrash()
{
    for (const int signalNumber : kCrashes) {
        std::signal(signalNumber, SIG_DFL);
    }
    endScratchFolder();
    // Set before the handler is removed: removing it waits for a handler
    // that is running, and that one waits for this.
    SetEvent(decodingEnded);
    SetConsoleCtrlHandler(removeScratchAndEnd, FALSE);
}
