// Linux: the result window and its screen, from Qt. OpenCV's Qt window is a
// top-level widget named after its title, and its application object exists
// once the window is made (with OpenCV built with another toolkit, no window
// is found). Sizes are Qt's device-independent pixels; the work area is the
// screen's available geometry; the frame is what the window manager's frame
// and title bar add, nothing without a window manager or before it has
// framed the window.
#include "platform.h"

#include <QApplication>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSize>
#include <QString>
#include <QWidget>

namespace {

// The window `name` with the screen it is on, or null.
QWidget* findWindow(const char* name)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return nullptr;  // OpenCV built with another toolkit
    }
    const QString objectName = QString::fromUtf8(name);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == objectName && widget->screen() != nullptr) {
            return widget;
        }
    }
    return nullptr;
}

} // namespace

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
