// Windows: a crash inside a third-party decoder (SIGABRT, SIGFPE, SIGILL,
// SIGSEGV through the C runtime's signal) writes the text prepared before
// the decoding, as printText would, and leaves with _Exit. The library's
// temporary copies go to a new folder in the user's temporary folder,
// whose path the library must read in the ANSI code page; it is registered
// for removal on interruption (interruption.h), and a crash closes the
// files the decoder left open through the C library and removes it too.
#include "platform.h"

#include "console.h"
#include "interruption.h"
#include "text_encoding.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
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

// Whether the private folder for the library's temporary copies is in
// use, and the setting it replaced.
volatile bool scratchInUse = false;
bool temporaryPathWasSet = false;
std::string temporaryPathBefore;

// Makes a new private folder inside the user's temporary folder, points
// the library's temporary copies to it and registers it for removal on
// interruption. When it cannot be made, or its path cannot be given in the
// ANSI code page that the library reads it in, the copies go where they
// would have gone.
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
    registerScratchFolder(folder);
    scratchInUse = true;
    _putenv_s(kTemporaryPathSetting, ansiFolder.c_str());
}

void endScratchFolder()
{
    if (!scratchInUse) {
        return;
    }
    releaseScratchFolder();
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

} // namespace

void exitOnCrash(const char* text, int exitStatus)
{
    std::fflush(stdout);
    crashWideText = toWide(text) + L"\n";
    crashBytes = toCodePage(crashWideText, byteCodePage());
    crashStatus = exitStatus;
    useScratchFolder();
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
}
