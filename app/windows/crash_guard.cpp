// Windows: a crash inside a third-party decoder ends the run with a text and
// a status.
#include "console.h"
#include "platform.h"
#include "text_encoding.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// What exitAfterCrash prints, as printText would print it (with its line
// feed): UTF-16 for a console, bytes in the console's code page otherwise,
// both made before the guard is in force, since a crashed process must not
// allocate. The status it exits with.
std::wstring crashWideText;
std::string crashBytes;
int crashStatus = 0;
constexpr int kCrashes[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV};

void exitAfterCrash(int)
{
    const HANDLE console = outputConsole();
    if (console != nullptr) {
        DWORD written = 0;
        WriteConsoleW(console, crashWideText.data(), static_cast<DWORD>(crashWideText.size()), &written, nullptr);
    } else {
        std::fwrite(crashBytes.data(), 1, crashBytes.size(), stdout);
        std::fflush(stdout);
    }
    std::_Exit(crashStatus);
}

} // namespace

void exitOnCrash(const char* text, int exitStatus)
{
    std::fflush(stdout);
    crashWideText = toWide(text) + L"\n";
    crashBytes = toCodePage(crashWideText, byteCodePage());
    crashStatus = exitStatus;
    for (const int signalNumber : kCrashes) {
        std::signal(signalNumber, exitAfterCrash);
    }
}

void endExitOnCrash()
{
    for (const int signalNumber : kCrashes) {
        std::signal(signalNumber, SIG_DFL);
    }
}
