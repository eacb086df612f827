// Linux: a crash inside a third-party decoder (SIGABRT, SIGBUS, SIGFPE,
// SIGILL, SIGSEGV, handled on a stack of its own so that a decoder's stack
// overflowing is caught too: interruption.h) writes the text with write(2)
// and leaves with _exit. The library's temporary files go to a folder made with mkdtemp
// inside the one it would use (OPENCV_TEMP_PATH, else /tmp), registered for
// removal on interruption (interruption.h) and removed by a crash too.
#include "platform.h"

#include "interruption.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The setting that gives the image library the folder for the temporary
// files it decodes from (for the decoders that cannot read from memory:
// DICOM, OpenEXR, Radiance HDR); without it they go to /tmp.
constexpr const char* kTemporaryPathSetting = "OPENCV_TEMP_PATH";
constexpr const char* kDefaultTemporaryPath = "/tmp";

// What exitAfterCrash prints, with the line feed that printText would add,
// and the status it exits with.
char crashText[256];
std::size_t crashTextLength = 0;
int crashStatus = 0;

// The private folder for the library's temporary files while the guard is
// in force, and the setting it replaced.
bool scratchInUse = false;
bool temporaryPathWasSet = false;
std::string temporaryPathBefore;

// Makes a new private folder inside the one the library would use, points
// the library's temporary files to it and registers it for removal on
// interruption. When it cannot be made, the files go where they would have
// gone.
void useScratchFolder()
{
    const char* setting = std::getenv(kTemporaryPathSetting);
    temporaryPathWasSet = setting != nullptr;
    temporaryPathBefore = temporaryPathWasSet ? setting : "";
    const char* base = temporaryPathBefore.empty() ? kDefaultTemporaryPath : temporaryPathBefore.c_str();
    char folder[4096];
    const int length = std::snprintf(folder, sizeof folder, "%s/lumaLeveller.XXXXXX", base);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof folder || ::mkdtemp(folder) == nullptr) {
        return;
    }
    const int descriptor = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        ::rmdir(folder);
        return;
    }
    registerScratchFolder(folder, descriptor);
    scratchInUse = true;
    ::setenv(kTemporaryPathSetting, folder, 1);
}

void endScratchFolder()
{
    if (!scratchInUse) {
        return;
    }
    releaseScratchFolder();
    scratchInUse = false;
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
    removeRegistered();
    ::_exit(crashStatus);
}

} // namespace

void exitOnCrash(const char* text, int exitStatus)
{
    std::fflush(stdout);  // what was printed before stays before the text
    const int length = std::snprintf(crashText, sizeof crashText, "%s\n", text);
    crashTextLength = length < 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof crashText - 1);
    crashStatus = exitStatus;
    useScratchFolder();
    handleCrashes(exitAfterCrash);
}

void endExitOnCrash()
{
    endHandlingCrashes();
    endScratchFolder();
}
