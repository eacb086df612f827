// Linux: the arguments are the path bytes as given, and console texts go out
// as UTF-8, unchanged; a prepared text goes out with write(2). The handlers
// are signal handlers, each with all the signals of its set blocked while it
// runs; a signal the run ignores (a run started in the background may ignore
// Ctrl+C) stays ignored. Interruptions are SIGHUP, SIGINT, SIGQUIT and
// SIGTERM: the clean-up runs on the thread that installed it, where the
// signal interrupts the work at a known point (a thread of OpenCV's that
// receives it hands it on), and the run then ends by the same signal, so that
// whoever sent it sees the run killed by it. Crashes are SIGABRT, SIGBUS,
// SIGFPE, SIGILL and SIGSEGV, handled on a stack of their own so that a stack
// overflowing is caught too.
#include "platform.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <utility>

#include <pthread.h>
#include <unistd.h>

namespace {

char preparedText[256];
std::size_t preparedLength = 0;

// Signal dispositions as they were before handleSignals changed them.
using Dispositions = std::vector<std::pair<int, struct sigaction>>;

// Makes `handler` handle each of `signalNumbers` (see above), with SA_RESTART
// and `flags`; gives back the dispositions to restore.
Dispositions handleSignals(std::initializer_list<int> signalNumbers, void (*handler)(int), int flags = 0)
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART | flags;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : signalNumbers) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    Dispositions earlier;
    for (const int signalNumber : signalNumbers) {
        struct sigaction before {};
        ::sigaction(signalNumber, nullptr, &before);
        earlier.emplace_back(signalNumber, before);
        if (before.sa_handler != SIG_IGN) {
            ::sigaction(signalNumber, &action, nullptr);
        }
    }
    return earlier;
}

void restoreDispositions(const Dispositions& earlier)
{
    for (const auto& [signalNumber, before] : earlier) {
        ::sigaction(signalNumber, &before, nullptr);
    }
}

void (*interruptionCleanUp)() = nullptr;
pthread_t cleaningThread;

void cleanUpAndEnd(int signalNumber)
{
    if (!pthread_equal(pthread_self(), cleaningThread)) {
        pthread_kill(cleaningThread, signalNumber);
        return;
    }
    interruptionCleanUp();
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);  // delivered as the handler returns
}

alignas(16) char crashStack[std::size_t{1} << 16];
stack_t stackBeforeCrashHandler;
Dispositions beforeCrashHandler;
void (*crashHandler)() = nullptr;

void onCrash(int)
{
    crashHandler();
}

} // namespace

std::vector<std::string> programArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

void printText(const char* text)
{
    std::puts(text);
}

void prepareText(const char* text)
{
    const int length = std::snprintf(preparedText, sizeof preparedText, "%s\n", text);
    preparedLength = length < 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof preparedText - 1);
}

void printPreparedText()
{
    const ssize_t written = ::write(STDOUT_FILENO, preparedText, preparedLength);
    static_cast<void>(written);  // nothing more to do if it fails
}

void waitOnOwnConsole() {}  // a terminal outlives the programs run in it

unsigned long processId()
{
    return static_cast<unsigned long>(::getpid());
}

void setEnvironment(const char* name, const char* value)
{
    if (value != nullptr) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

void handleInterruptions(void (*cleanUp)())
{
    interruptionCleanUp = cleanUp;
    cleaningThread = pthread_self();
    handleSignals({SIGHUP, SIGINT, SIGQUIT, SIGTERM}, cleanUpAndEnd);
}

void handleCrashes(void (*handler)())
{
    crashHandler = handler;
    stack_t stack{};
    stack.ss_sp = crashStack;
    stack.ss_size = sizeof crashStack;
    ::sigaltstack(&stack, &stackBeforeCrashHandler);
    beforeCrashHandler = handleSignals({SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV}, onCrash, SA_ONSTACK);
}

void endHandlingCrashes()
{
    restoreDispositions(beforeCrashHandler);
    ::sigaltstack(&stackBeforeCrashHandler, nullptr);
}
