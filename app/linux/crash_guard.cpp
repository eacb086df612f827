// Linux: a crash inside a third-party decoder ends the run with a text and a
// status instead of a core dump.
#include "platform.h"
#include "signals.h"

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace {

// What exitAfterCrash prints, with the line feed that printText would add,
// and the status it exits with; the dispositions it replaced.
char crashText[256];
std::size_t crashTextLength = 0;
int crashStatus = 0;
Dispositions beforeCrashGuard;

void exitAfterCrash(int)
{
    const ssize_t written = ::write(STDOUT_FILENO, crashText, crashTextLength);
    static_cast<void>(written);  // nothing more to do if it fails
    ::_exit(crashStatus);
}

} // namespace

void exitOnCrash(const char* text, int exitStatus)
{
    std::fflush(stdout);  // what was printed before stays before the text
    const int length = std::snprintf(crashText, sizeof crashText, "%s\n", text);
    crashTextLength = length < 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof crashText - 1);
    crashStatus = exitStatus;
    beforeCrashGuard = handleSignals({SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV}, exitAfterCrash);
}

void endExitOnCrash()
{
    restoreDispositions(beforeCrashGuard);
    beforeCrashGuard.clear();
}
