// Linux: the result file is replaced through POSIX calls, and an
// interrupting signal removes the temporary file before it ends the run.
#include "platform.h"
#include "signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

// The temporary file of the write in progress, for the handler of an
// interrupting signal. The name is prepared before the file is created, and
// marked as valid only while the file may exist, so that the handler needs
// nothing but async-signal-safe calls.
char temporaryName[64];
volatile std::sig_atomic_t temporaryNamed = 0;
pthread_t writingThread;

// Removes the temporary file, then ends the process by the same signal, so
// that whoever sent it still sees the run killed by it. The handler runs on
// the writing thread: there it interrupts the write at a known point, never
// in the middle of creating the file. A thread of the image library that
// receives the signal hands it on.
void removeTemporaryAndEnd(int signalNumber)
{
    if (!pthread_equal(pthread_self(), writingThread)) {
        pthread_kill(writingThread, signalNumber);
        return;
    }
    if (temporaryNamed) {
        ::unlink(temporaryName);
    }
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);  // delivered as the handler returns
}

void forgetTemporary()
{
    temporaryNamed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Opens a new, empty temporary file beside `name`, hidden and with a name of
// this process's own so that concurrent runs never share one; its name is
// then in temporaryName.
int createTemporary(const char* name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        forgetTemporary();
        const int length = std::snprintf(temporaryName, sizeof temporaryName, ".%s.%ld-%d.tmp", name,
                                         static_cast<long>(::getpid()), attempt);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof temporaryName) {
            return -1;
        }
        std::atomic_signal_fence(std::memory_order_seq_cst);
        temporaryNamed = 1;
        const int file = ::open(temporaryName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (file >= 0) {
            return file;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    forgetTemporary();
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

// replaceFile without the signal handling: the temporary file is written,
// flushed and renamed, or removed.
bool writeAndRename(const char* name, const std::function<bool(const ByteSink&)>& produce)
{
    const int file = createTemporary(name);
    if (file < 0) {
        return false;
    }
    bool failed = false;
    const ByteSink sink = [file, &failed](const unsigned char* bytes, std::size_t size) {
        failed = failed || !writeAll(file, bytes, size);
        return !failed;
    };
    const bool written = produce(sink) && !failed && ::fsync(file) == 0;
    const bool closed = ::close(file) == 0;
    const bool renamed = written && closed && ::rename(temporaryName, name) == 0;
    if (!renamed) {
        ::unlink(temporaryName);
    }
    forgetTemporary();
    return renamed;
}

} // namespace

bool replaceFile(const char* name, const std::function<bool(const ByteSink&)>& produce)
{
    // A file-size limit makes the write fail with EFBIG instead of killing
    // the process, so it is reported like any other failed write.
    std::signal(SIGXFSZ, SIG_IGN);

    // The signals that end a run by default and that a user or a system
    // sends to stop it: a closed terminal, Ctrl+C, Ctrl+\, kill.
    writingThread = pthread_self();
    const Dispositions earlier = handleSignals({SIGHUP, SIGINT, SIGQUIT, SIGTERM}, removeTemporaryAndEnd);
    const bool replaced = writeAndRename(name, produce);
    restoreDispositions(earlier);
    if (replaced) {
        syncWorkingDirectory();
    }
    return replaced;
}
