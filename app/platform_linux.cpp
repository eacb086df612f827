// Linux: console bytes go out as UTF-8, the notice is a Qt message box, and
// the result file is replaced through POSIX calls.
#include "platform.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

const char* displayFailureText = nullptr;
int displayFailureStatus = 0;
QtMessageHandler toolkitMessageHandler = nullptr;

// Qt reports a display it cannot reach as a fatal message and aborts once
// the handler returns; this handler ends the run before that happens. The
// result file is complete by then, so nothing is left half done.
void handleToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        toolkitMessageHandler(type, context, message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    printText(displayFailureText);
    std::fflush(stdout);
    std::_Exit(displayFailureStatus);
}

// The temporary file of the write in progress, for the handler of an
// interrupting signal. The name is prepared before the file is created, and
// marked as valid only while the file may exist, so that the handler needs
// nothing but async-signal-safe calls.
char temporaryName[64];
volatile std::sig_atomic_t temporaryNamed = 0;
pthread_t writingThread;

// Signal dispositions as they were before handleSignals changed them.
using Dispositions = std::vector<std::pair<int, struct sigaction>>;

// Makes `handler` handle each of `signalNumbers`, with all of them blocked
// while it runs, except those that are ignored (a run started in the
// background may ignore Ctrl+C: it stays so). Returns the dispositions to
// restore.
Dispositions handleSignals(std::initializer_list<int> signalNumbers, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
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
bool writeAndRename(const char* name, const unsigned char* bytes, std::size_t size)
{
    const int file = createTemporary(name);
    if (file < 0) {
        return false;
    }
    const bool written = writeAll(file, bytes, size) && ::fsync(file) == 0;
    const bool closed = ::close(file) == 0;
    const bool renamed = written && closed && ::rename(temporaryName, name) == 0;
    if (!renamed) {
        ::unlink(temporaryName);
    }
    forgetTemporary();
    return renamed;
}

} // namespace

void printText(const char* text)
{
    std::puts(text);
}

void exitOnDisplayFailure(const char* text, int exitStatus)
{
    displayFailureText = text;
    displayFailureStatus = exitStatus;
    toolkitMessageHandler = qInstallMessageHandler(handleToolkitMessage);
}

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

void showNotice(const char* caption, const char* text)
{
    // OpenCV's window has made the application object already; a build of
    // OpenCV with another toolkit has not, and then the notice makes its own.
    static int argumentCount = 1;
    static char programName[] = "lumaLeveller";
    static char* arguments[] = {programName, nullptr};
    std::unique_ptr<QApplication> ownApplication;
    if (QApplication::instance() == nullptr) {
        ownApplication = std::make_unique<QApplication>(argumentCount, arguments);
    }
    QMessageBox notice(QMessageBox::Information, QString::fromUtf8(caption), QString::fromUtf8(text),
                       QMessageBox::Ok);
    notice.exec();
}

bool replaceFile(const char* name, const unsigned char* bytes, std::size_t size)
{
    // A file-size limit makes the write fail with EFBIG instead of killing
    // the process, so it is reported like any other failed write.
    std::signal(SIGXFSZ, SIG_IGN);

    // The signals that end a run by default and that a user or a system
    // sends to stop it: a closed terminal, Ctrl+C, kill.
    writingThread = pthread_self();
    const Dispositions earlier = handleSignals({SIGHUP, SIGINT, SIGTERM}, removeTemporaryAndEnd);
    const bool replaced = writeAndRename(name, bytes, size);
    restoreDispositions(earlier);
    if (replaced) {
        syncWorkingDirectory();
    }
    return replaced;
}
