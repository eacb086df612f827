// Linux: the program's signal handlers are installed here only, each with
// all the signals of its set blocked while it runs, except signals that are
// ignored (a run started in the background may ignore Ctrl+C: it stays so).
// The interruption handler is in force while anything is registered. It
// runs on the registering thread, where it interrupts the write or the
// decoding at a known point, never in the middle of creating the file; a
// thread of the image library that receives the signal hands it on. It
// removes what is registered with async-signal-safe calls only, then ends
// the process by the same signal.
#include "interruption.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <utility>
#include <vector>

#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

namespace {

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

// The stack the crash handler runs on, so that it also runs when the crash
// is the decoding thread's stack overflowing (a decoder recursing through a
// deeply nested file); the alternate stack and dispositions it replaced.
alignas(16) char crashStack[std::size_t{1} << 16];
stack_t stackBeforeCrashHandler;
Dispositions beforeCrashHandler;

// What is registered. A name is in place before its flag is set, and the
// flag cleared before the name changes, so that the handler reads names
// whole.
char temporaryFile[256];
volatile std::sig_atomic_t temporaryFileSet = 0;
char scratchFolder[4096];
int scratchDescriptor = -1;
volatile std::sig_atomic_t scratchFolderSet = 0;

// The thread that registered, the dispositions the handler replaced, and
// how many registrations hold it.
pthread_t registeringThread;
Dispositions beforeHandler;
int registrations = 0;

void setFlag(volatile std::sig_atomic_t& flag, int value)
{
    std::atomic_signal_fence(std::memory_order_seq_cst);
    flag = value;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Empties the scratch folder and removes it. "." and ".." are listed too;
// unlinking them fails, harmlessly.
void removeScratchFolder()
{
    alignas(dirent64) static char entries[4096];
    ssize_t got = 0;
    while ((got = ::getdents64(scratchDescriptor, entries, sizeof entries)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            ::unlinkat(scratchDescriptor, entry->d_name, 0);
            at += entry->d_reclen;
        }
    }
    ::rmdir(scratchFolder);
}

void removeRegisteredAndEnd(int signalNumber)
{
    if (!pthread_equal(pthread_self(), registeringThread)) {
        pthread_kill(registeringThread, signalNumber);
        return;
    }
    removeRegistered();
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);  // delivered as the handler returns
}

void holdHandler()
{
    if (registrations++ == 0) {
        registeringThread = pthread_self();
        beforeHandler = handleSignals({SIGHUP, SIGINT, SIGQUIT, SIGTERM}, removeRegisteredAndEnd);
    }
}

void releaseHandler()
{
    if (--registrations == 0) {
        restoreDispositions(beforeHandler);
        beforeHandler.clear();
    }
}

} // namespace

void registerTemporaryFile(const char* name)
{
    holdHandler();
    std::snprintf(temporaryFile, sizeof temporaryFile, "%s", name);
    setFlag(temporaryFileSet, 1);
}

void releaseTemporaryFile()
{
    setFlag(temporaryFileSet, 0);
    releaseHandler();
}

void registerScratchFolder(const char* path, int descriptor)
{
    holdHandler();
    std::snprintf(scratchFolder, sizeof scratchFolder, "%s", path);
    scratchDescriptor = descriptor;
    setFlag(scratchFolderSet, 1);
}

void releaseScratchFolder()
{
    removeScratchFolder();
    setFlag(scratchFolderSet, 0);
    ::close(scratchDescriptor);
    scratchDescriptor = -1;
    releaseHandler();
}

void removeRegistered()
{
    if (temporaryFileSet) {
        ::unlink(temporaryFile);
    }
    if (scratchFolderSet) {
        removeScratchFolder();
    }
}

void handleCrashes(void (*handler)(int))
{
    stack_t stack{};
    stack.ss_sp = crashStack;
    stack.ss_size = sizeof crashStack;
    ::sigaltstack(&stack, &stackBeforeCrashHandler);
    beforeCrashHandler = handleSignals({SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV}, handler, SA_ONSTACK);
}

void endHandlingCrashes()
{
    restoreDispositions(beforeCrashHandler);
    beforeCrashHandler.clear();
    ::sigaltstack(&stackBeforeCrashHandler, nullptr);
}
