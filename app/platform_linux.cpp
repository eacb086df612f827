// Linux: console bytes go out as UTF-8, the notice is a Qt message box, and
// the result file is replaced through POSIX calls.
#include "platform.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <fcntl.h>
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

// Opens a new, empty temporary file beside `name`, hidden and with a name of
// this process's own so that concurrent runs never share one.
int createTemporary(const char* name, std::string& temporary)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = "." + std::string(name) + "." + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (file >= 0 || errno != EEXIST) {
            return file;
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

    std::string temporary;
    const int file = createTemporary(name, temporary);
    if (file < 0) {
        return false;
    }
    const bool written = writeAll(file, bytes, size) && ::fsync(file) == 0;
    const bool closed = ::close(file) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), name) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncWorkingDirectory();
    return true;
}
