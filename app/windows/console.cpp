// Windows: the arguments come from the wide command line
// (CommandLineToArgvW) as UTF-8, so that a file name with characters
// outside the ANSI code page reaches the reader whole. Console texts are
// written as UTF-16 with WriteConsoleW on a console, and as bytes in the
// console's output code page (the ANSI code page with no console) when
// standard output is a file or a pipe. A run that ends with a text waits
// for a key on a console of its own.
#include "console.h"
#include "platform.h"
#include "text_encoding.h"

#include <shellapi.h>

#include <cstdio>

HANDLE outputConsole()
{
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return output != INVALID_HANDLE_VALUE && output != nullptr && GetConsoleMode(output, &mode) ? output : nullptr;
}

UINT byteCodePage()
{
    const UINT codePage = GetConsoleOutputCP();
    return codePage == 0 ? GetACP() : codePage;
}

std::vector<std::string> programArguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv + 1, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) {
        arguments.push_back(toUtf8(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

void printText(const char* text)
{
    const std::wstring wide = toWide(text) + L"\n";
    const HANDLE console = outputConsole();
    // What the C library still holds goes out first, so that texts keep
    // their order with everything else printed.
    std::fflush(stdout);
    if (console != nullptr) {
        DWORD written = 0;
        WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        std::fputs(toCodePage(wide, byteCodePage()).c_str(), stdout);
    }
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

