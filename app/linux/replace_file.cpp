// Linux: the result file is replaced through POSIX calls. The temporary
// file is created beside it with O_EXCL and O_NOFOLLOW, mode 0666 less the
// umask, named after the process id (another attempt's number on a clash);
// it is flushed with fsync, renamed over the file, which replaces a
// symbolic link rather than writing through it, and the folder is synced
// so that the rename lasts. SIGXFSZ is ignored, so that a file-size limit
// fails the write with EFBIG instead of killing the run. The temporary file
// is registered for removal on interruption (interruption.h).
#include "platform.h"

#include "interruption.h"

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Opens a new, empty temporary file beside `name` and names it in
// `temporaryName`; -1 when none can be made.
int createTemporary(const std::string& name, std::string& temporaryName)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        char candidate[64];
        const int length = std::snprintf(candidate, sizeof candidate, ".%s.%ld-%d.tmp", name.c_str(),
                                         static_cast<long>(::getpid()), attempt);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof candidate) {
            return -1;
        }
        registerTemporaryFile(candidate);
        const int file = ::open(candidate, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (file >= 0) {
            temporaryName = candidate;
            return file;
        }
        const int error = errno;
        releaseTemporaryFile();
        if (error != EEXIST) {
            break;
        }
    }
    return -1;
}

bool writeAll(int file, const unsigned char* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(file, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Makes the rename itself durable; a failure here does not undo the result.
void syncWorkingDirectory()
{
    const int directory = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
}

} // namespace

Replacement beginReplacing(const char* name)
{
    std::signal(SIGXFSZ, SIG_IGN);
    Replacement replacement{name, std::string(), -1, false};
    replacement.file = createTemporary(replacement.name, replacement.temporaryName);
    return replacement;
}

bool writeReplacement(Replacement& replacement, const unsigned char* bytes, std::size_t size)
{
    replacement.failed = replacement.failed || replacement.file < 0 ||
                         !writeAll(static_cast<int>(replacement.file), bytes, size);
    return !replacement.failed;
}

bool finishReplacing(Replacement& replacement, bool keep)
{
    if (replacement.file < 0) {
        return false;
    }
    const int file = static_cast<int>(replacement.file);
    replacement.file = -1;
    const bool written = keep && !replacement.failed && ::fsync(file) == 0;
    const bool closed = ::close(file) == 0;
    const char* temporary = replacement.temporaryName.c_str();
    const bool renamed = written && closed && ::rename(temporary, replacement.name.c_str()) == 0;
    if (!renamed) {
        ::unlink(temporary);
    }
    releaseTemporaryFile();
    if (renamed) {
        syncWorkingDirectory();
    }
    return renamed;
}
