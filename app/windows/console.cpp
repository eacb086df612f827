// Windows: console texts in the console's output code page.
#include "platform.h"
#include "text_encoding.h"

#include <cstdio>

namespace {

UINT consoleCodePage()
{
    const UINT codePage = GetConsoleOutputCP();
    return codePage == 0 ? GetACP() : codePage;
}

} // namespace

std::vector<std::string> programArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

void printText(const char* text)
{
    std::puts(toCodePage(toWide(text), consoleCodePage()).c_str());
}
