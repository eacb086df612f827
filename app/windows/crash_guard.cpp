// Windows: a crash inside a third-party decoder ends the run with a text and
// a status.
#include "platform.h"
#include "text_encoding.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// What exitAfterCrash prints, with the line feed that printText would add,
// and the status it exits with.
std::string crashText;
int crashStatus = 0;
constexpr int kCrashes[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV};

void exitAfterCrash(int)
{
    printText(crashText.c_str());
    std::fflush(stdout);
    std::_Exit(crashStatus);
}

} // namespace

void exitOnCrash(const char* text, int exitStatus)
{
    std::fflush(stdout);
    crashText = text;
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
