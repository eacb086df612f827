// Linux: the notice is a Qt message box, and Qt's fatal failure to reach a
// display ends the run cleanly.
#include "platform.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <memory>

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

} // namespace

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
