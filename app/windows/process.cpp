// Windows: the arguments come from the wide command line
// (CommandLineToArgvW) as UTF-8, so that a file name with characters
// outside the ANSI code page reaches cv::imread whole. Console texts are
// written as UTF-16 with WriteConsoleW on a console, and as bytes in the
// console's output code page (the ANSI code page with no console) when
// standard output is a file or a pipe; a prepared text is converted both
// ways beforehand. An interruption is Ctrl+C (unless ignored), Ctrl+Break
// or a closed console, which the system hands to a console control handler
// on a thread of its own while the work goes on: the handler first stops
// files.cpp from making, renaming or removing files and folders for good,
// waits up to three seconds for a decoding under way to end (its decoder
// may hold a file open that is to be removed: an event, set outside the
// span from handleCrashes to endHandlingCrashes), then cleans up and ends
// the process with STATUS_CONTROL_C_EXIT, as the system's own handler ends
// it. Crashes are SIGABRT, SIGFPE, SIGILL and SIGSEGV through
// the C runtime's signal; the handler first closes the files that the
// crashed code left open through the C library, so that they can be
// removed.
#include "platform.h"

#include "files.h"
#include "text_encoding.h"

#include <shellapi.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

std::wstring preparedWide;
std::string preparedBytes;

// Standard output's console, or nullptr when it is a file, a pipe or none.
HANDLE outputConsole()
{
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return output != INVALID_HANDLE_VALUE && output != nullptr && GetConsoleMode(output, &mode) ? output : nullptr;
}

// Writes `wide` to the console, or else its `bytes` to standard output.
void writeOut(const std::wstring& wide, const std::string& bytes)
{
    const HANDLE console = outputConsole();
    if (console != nullptr) {
        DWORD written = 0;
        WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        std::fflush(stdout);
    }
}

// The code page of texts written as bytes: the console's output code page,
// or the ANSI code page when the process has no console.
UINT byteCodePage()
{
    const UINT codePage = GetConsoleOutputCP();
    return codePage == 0 ? GetACP() : codePage;
}

void (*interruptionCleanUp)() = nullptr;

// Set while no decoder runs (outside handleCrashes to endHandlingCrashes).
HANDLE noDecoding = nullptr;
constexpr DWORD kDecodingWaitMs = 3000;

BOOL WINAPI cleanUpAndEnd(DWORD)
{
    holdFileChanges();
    WaitForSingleObject(noDecoding, kDecodingWaitMs);
    interruptionCleanUp();
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    // TerminateProcess does not return for the calling process; should it
    // fail, the process still ends with the status.
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

constexpr int kCrashes[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV};
void (*crashHandler)() = nullptr;

void onCrash(int)
{
    _fcloseall();
    crashHandler();
}

} // namespace

std::vector<std::string> programArguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv + 1, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) {
        arguments.push_back(toCodePage(wide[i], CP_UTF8));
    }
    LocalFree(wide);
    return arguments;
}

void printText(const char* text)
{
    const std::wstring wide = toWide(text) + L"\n";
    // What the C library still holds goes out first, so that texts keep
    // their order with everything else printed.
    std::fflush(stdout);
    writeOut(wide, outputConsole() != nullptr ? std::string() : toCodePage(wide, byteCodePage()));
}

void prepareText(const char* text)
{
    preparedWide = toWide(text) + L"\n";
    preparedBytes = toCodePage(preparedWide, byteCodePage());
}

void printPreparedText()
{
    writeOut(preparedWide, preparedBytes);
}

void waitOnOwnConsole()
{
    // The console's processes: this one alone when the console was made for
    // it; more (the shell, and others in a pipeline) on one a person opened;
    // none without a console.
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1) {
        return;
    }
    std::fflush(stdout);
    // Read past the C library, whose first read allocates a buffer, which a
    // crashed process must not. A read of the console returns with its line,
    // as getchar's does; one of a file, a pipe or NUL at its end at once.
    char key = 0;
    DWORD read = 0;
    ReadFile(GetStdHandle(STD_INPUT_HANDLE), &key, 1, &read, nullptr);
}

unsigned long processId()
{
    return GetCurrentProcessId();
}

void setEnvironment(const char* name, const char* value)
{
    // An empty value removes the variable.
    _putenv_s(name, value != nullptr ? value : "");
}

void handleInterruptions(void (*cleanUp)())
{
    interruptionCleanUp = cleanUp;
    noDecoding = CreateEventW(nullptr, TRUE, TRUE, nullptr);  // manual reset, set
    SetConsoleCtrlHandler(cleanUpAndEnd, TRUE);
}

void handleCrashes(void (*handler)())
{
    crashHandler = handler;
    for (const int signalNumber : kCrashes) {
        std::signal(signalNumber, onCrash);
    }
    if (noDecoding != nullptr) {
        ResetEvent(noDecoding);
    }
}

void endHandlingCrashes()
{
    for (const int signalNumber : kCrashes) {
        std::signal(signalNumber, SIG_DFL);
    }
    if (noDecoding != nullptr) {
        SetEvent(noDecoding);
    }
}
