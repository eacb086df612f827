// Linux: a crash inside a third-party decoder ends the run with a text and a
// status instead of a core dump; neither a crash nor an interruption while
// decoding leaves the library's temporary files behind.
#include "platform.h"
#include "signals.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The setting that gives the image library the folder for the temporary
// files it decodes from (for the decoders that cannot read from memory:
// DICOM, OpenEXR, Radiance HDR); without it they go to /tmp.
constexpr const char* kTemporaryPathSetting = "OPENCV_TEMP_PATH";
constexpr const char* kDefaultTemporaryPath = "/tmp";

// What exitAfterCrash prints, with the line feed that printText would add,
// and the status it exits with; the dispositions it replaced.
char crashText[256];
std::size_t crashTextLength = 0;
int crashStatus = 0;
Dispositions beforeCrashGuard;
Dispositions beforeInterruptGuard;

// The stack the handler runs on, so that it also runs when the crash is the
// decoding thread's stack overflowing (a decoder recursing through a deeply
// nested file); the alternate stack it replaced.
alignas(16) char handlerStack[std::size_t{1} << 16];
stack_t stackBeforeCrashGuard;

// The private folder for the library's temporary files while the guard is
// in force, open for the handler, and the setting it replaced.
char scratchFolder[4096];
int scratchDescriptor = -1;
bool temporaryPathWasSet = false;
std::string temporaryPathBefore;

// Removes the scratch folder with what it holds (the library's files lie
// directly in it), with async-signal-safe calls only. "." and ".." are
// listed too; unlinking them fails, harmlessly.
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

// Makes a new private folder inside the one the library would use and
// points the library's temporary files to it. When it cannot be made, the
// files go where they would have gone.
void useScratchFolder()
{
    const char* setting = std::getenv(kTemporaryPathSetting);
    temporaryPathWasSet = setting != nullptr;
    temporaryPathBefore = temporaryPathWasSet ? setting : "";
    const char* base = temporaryPathBefore.empty() ? kDefaultTemporaryPath : temporaryPathBefore.c_str();
    const int length = std::snprintf(scratchFolder, sizeof scratchFolder, "%s/lumaLeveller.XXXXXX", base);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof scratchFolder || ::mkdtemp(scratchFolder) == nullptr) {
        return;
    }
    scratchDescriptor = ::open(scratchFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scratchDescriptor < 0) {
        ::rmdir(scratchFolder);
        return;
    }
    ::setenv(kTemporaryPathSetting, scratchFolder, 1);
}

void endScratchFolder()
{
    if (scratchDescriptor < 0) {
        return;
    }
    removeScratchFolder();
    ::close(scratchDescriptor);
    scratchDescriptor = -1;
    if (temporaryPathWasSet) {
        ::setenv(kTemporaryPathSetting, temporaryPathBefore.c_str(), 1);
    } else {
        ::unsetenv(kTemporaryPathSetting);
    }
}

void exitAfterCrash(int)
{
    const ssize_t written = ::write(STDOUT_FILENO, crashText, crashTextLength);
    static_cast<void>(written);  // nothing more to do if it fails
    if (scratchDescriptor >= 0) {
        removeScratchFolder();
    }
    ::_exit(crashStatus);
}

// Removes the scratch folder, then ends the process by the same signal, so
// that whoever sent it still sees the run killed by it. The decoding runs on
// the main thread before the library starts threads of its own, so the
// handler interrupts it and no file appears after the removal.
void removeScratchAndEnd(int signalNumber)
{
    if (scratchDescriptor >= 0) {
        removeScratchFolder();
    }
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);  // delivered as the handler returns
}

} // namespace

void exitOnCrash(const char* text, int exitStatus)
{
    std::fflush(stdout);  // what was printed before stays before the text
    const int length = std::snprintf(crashText, sizeof crashText, "%s\n", text);
    crashTextLength = length < 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof crashText - 1);
    crashStatus = exitStatus;
    useScratchFolder();
    stack_t stack{};
    stack.ss_sp = handlerStack;
    stack.ss_size = sizeof handlerStack;
    ::sigaltstack(&stack, &stackBeforeCrashGuard);
    beforeCrashGuard = handleSignals({SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV}, exitAfterCrash, SA_ONSTACK);
    beforeInterruptGuard = handleSignals({SIGHUP, SIGINT, SIGQUIT, SIGTERM}, removeScratchAndEnd);
}

void endExitOnCrash()
{
    restoreDispositions(beforeInterruptGuard);
    beforeInterruptGuard.clear();
    restoreDispositions(beforeCrashGuard);
    beforeCrashGuard.clear();
    ::sigaltstack(&stackBeforeCrashGuard, nullptr);
    endScratchFolder();
}
