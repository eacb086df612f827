// Windows: console bytes in the console's output code page, the notice is
// a Win32 message box with UTF-16 texts, and the result file is replaced
// through Win32 calls.
#include "platform.h"

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring toWide(const char* text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<std::size_t>(length) - 1);
    return wide;
}

std::string toCodePage(const std::wstring& wide, UINT codePage)
{
    const int length = WideCharToMultiByte(codePage, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::string();
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.c_str(), -1, &bytes[0], length, nullptr, nullptr);
    bytes.resize(static_cast<std::size_t>(length) - 1);
    return bytes;
}

// Opens a new, empty temporary file beside `name`, hidden and with a name of
// this process's own so that concurrent runs never share one.
HANDLE createTemporary(const char* name, std::string& temporary)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = "." + std::string(name) + "." + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(attempt) + ".tmp";
        const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
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

// What exitAfterCrash prints, in the console's code page with the line
// feed that printText would add, and the status it exits with.
std::string crashText;
int crashStatus = 0;
constexpr int kCrashes[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV};

void exitAfterCrash(int)
{
    std::fwrite(crashText.data(), 1, crashText.size(), stdout);
    std::fflush(stdout);
    std::_Exit(crashStatus);
}

UINT consoleCodePage()
{
    const UINT codePage = GetConsoleOutputCP();
    return codePage == 0 ? GetACP() : codePage;
}

} // namespace

void printText(const char* text)
{
    std::puts(toCodePage(toWide(text), consoleCodePage()).c_str());
}

void exitOnCrash(const char* text, int exitStatus)
{
    std::fflush(stdout);
    crashText = toCodePage(toWide(text), consoleCodePage()) + "\n";
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

void exitOnDisplayFailure(const char*, int)
{
    // Win32 windows need no display server; a failure to open the window
    // reaches the driver as the library's exception.
}

void showNotice(const char* caption, const char* text)
{
    MessageBoxW(nullptr, toWide(text).c_str(), toWide(caption).c_str(), MB_ICONINFORMATION | MB_OK);
}

bool replaceFile(const char* name, const unsigned char* bytes, std::size_t size)
{
    std::string temporary;
    const HANDLE file = createTemporary(name, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool written = writeAll(file, bytes, size) && FlushFileBuffers(file);
    const bool closed = CloseHandle(file) != 0;
    if (!written || !closed ||
        !MoveFileExA(temporary.c_str(), name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}
