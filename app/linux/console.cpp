// Linux: the arguments are the path bytes as given, and console texts go
// out as UTF-8, unchanged.
#include "platform.h"

#include <cstdio>

std::vector<std::string> programArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

void printText(const char* text)
{
    std::puts(text);
}

void waitOnOwnConsole()
{
    // A terminal outlives the programs run in it.
}
