// Linux: the window is OpenCV's Qt window, a top-level widget named after its
// title; the notice is a Qt message box. Sizes are Qt's device-independent
// pixels; the work area is the screen's available geometry; the frame is what
// the window manager's frame and title bar add, nothing without a window
// manager or before it has framed the window. Qt's fatal failure to reach a
// display, or its exit when the display goes away, ends the run cleanly; when
// no display is named at all (DISPLAY unset or empty, and no other Qt
// platform chosen), the run ends so at once, without loading Qt's display
// plugin only to see it fail.
#include "platform.h"

#include <QApplication>
#include <QMessageBox>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSize>
#include <QString>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

const char* displayFailureText = nullptr;
int displayFailureStatus = 0;
QtMessageHandler toolkitMessageHandler = nullptr;

// Qt's messages held back until a window is up, formatted as its own handler
// prints them to standard error (Debian's Qt logs nowhere else), with whether
// each came from its platform plugins. Qt may report from any of its threads.
struct HeldMessage {
    bool fromPlatform;
    QString line;
};
std::mutex heldMessagesLock;
std::vector<HeldMessage> heldMessages;
bool holdingMessages = false;

// Prints the held messages, in order, and holds no more.
void releaseHeldMessages()
{
    std::vector<HeldMessage> held;
    {
        const std::lock_guard<std::mutex> lock(heldMessagesLock);
        holdingMessages = false;
        held.swap(heldMessages);
    }
    for (const HeldMessage& message : held) {
        if (!message.line.isNull()) {  // a message pattern may leave a message out
            std::fprintf(stderr, "%s\n", message.line.toLocal8Bit().constData());
        }
    }
}

// Why Qt failed to start, as one line: the first message of its platform
// plugins (such as "qt.qpa.xcb: could not connect to display"), else the
// first line of the fatal message itself.
QString startFailureReason(const QString& fatalMessage)
{
    const std::lock_guard<std::mutex> lock(heldMessagesLock);
    for (const HeldMessage& message : heldMessages) {
        if (message.fromPlatform) {
            return message.line.section('\n', 0, 0).trimmed();
        }
    }
    return fatalMessage.section('\n', 0, 0).trimmed();
}

// Qt's words when the connection to the X server breaks; it then calls
// exit(1).
bool isLostDisplay(const QString& message)
{
    return message.startsWith(QLatin1String("The X11 connection broke"));
}

[[noreturn]] void endRunWithoutDisplay()
{
    printText(displayFailureText);
    std::fflush(stdout);
    std::_Exit(displayFailureStatus);
}

// Qt reports a display it cannot reach as a fatal message and aborts once the
// handler returns; a display that goes away while the window is up (a dropped
// remote session, a logout) with a warning, and then exits. This handler ends
// the run before either happens. The result file is complete by then, so
// nothing is left half done. Until a window is up, Qt's messages are held:
// when it fails to start, standard error gets only the one line that says
// why, not the advice to reinstall that Qt's fatal message goes on with.
void handleToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        const QString fatalMessage = qFormatLogMessage(type, context, message);
        std::fprintf(stderr, "%s\n", startFailureReason(fatalMessage).toLocal8Bit().constData());
        endRunWithoutDisplay();
    }
    if (isLostDisplay(message)) {
        releaseHeldMessages();
        toolkitMessageHandler(type, context, message);
        endRunWithoutDisplay();
    }
    {
        const std::lock_guard<std::mutex> lock(heldMessagesLock);
        if (holdingMessages) {
            const bool fromPlatform = context.category != nullptr && std::strncmp(context.category, "qt.qpa", 6) == 0;
            heldMessages.push_back({fromPlatform, qFormatLogMessage(type, context, message)});
            return;
        }
    }
    toolkitMessageHandler(type, context, message);
}

// Whether Qt has no display to try: it would take the X11 platform (none
// other is chosen) and no X display is named.
bool noDisplayNamed()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    const bool x11 = platform == nullptr || *platform == '\0' || std::strcmp(platform, "xcb") == 0;
    return x11 && (display == nullptr || *display == '\0');
}

// The window `name` with the screen it is on, or null.
QWidget* findWindow(const char* name)
{
    const QString objectName = QString::fromUtf8(name);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == objectName && widget->screen() != nullptr) {
            return widget;
        }
    }
    return nullptr;
}

} // namespace

void exitOnDisplayFailure(const char* text, int exitStatus)
{
    displayFailureText = text;
    displayFailureStatus = exitStatus;
    if (noDisplayNamed()) {
        std::fputs("no display: DISPLAY is not set\n", stderr);  // as Qt says why it cannot start
        endRunWithoutDisplay();
    }
    holdingMessages = true;
    toolkitMessageHandler = qInstallMessageHandler(handleToolkitMessage);
}

bool showNotice(const char* caption, const char* text)
{
    // OpenCV's window has made the application object already.
    releaseHeldMessages();  // Qt has reached the display
    QMessageBox notice(QMessageBox::Information, QString::fromUtf8(caption), QString::fromUtf8(text),
                       QMessageBox::Ok);
    // A display lost meanwhile ends the run through exitOnDisplayFailure.
    notice.exec();
    return true;
}

bool measureWindow(const char* windowName, WindowPlace& place)
{
    const QWidget* window = findWindow(windowName);
    if (window == nullptr) {
        return false;
    }
    const QRect area = window->screen()->availableGeometry();
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    const QPoint at = window->frameGeometry().topLeft();
    place = {at.x(), at.y(), frame.width(), frame.height(), area.left(), area.top(), area.width(), area.height()};
    return true;
}

void moveWindow(const char* windowName, int left, int top)
{
    QWidget* window = findWindow(windowName);
    if (window != nullptr) {
        window->move(left, top);  // a top-level widget's position is its frame's
    }
}
