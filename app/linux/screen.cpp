// Linux: the room for the result window on its screen, from Qt. OpenCV's
// Qt window is a top-level widget named after its title, and its
// application object exists once the window is made.
#include "platform.h"

#include <QApplication>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSize>
#include <QString>
#include <QWidget>

#include <algorithm>

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

// What the window manager's frame and title bar add to the window's size:
// nothing without a window manager, or before it has framed the window.
QSize frameOf(const QWidget& window)
{
    return window.frameGeometry().size() - window.geometry().size();
}

// The nearest value to `at` in [low, high], `low` when the range is empty.
int clampedTo(int at, int low, int high)
{
    return std::max(low, std::min(at, high));
}

} // namespace

bool windowImageRoom(const char* windowName, int& width, int& height)
{
    const QWidget* window = findWindow(windowName);
    if (window == nullptr) {
        return false;
    }
    const QSize room = window->screen()->availableGeometry().size() - frameOf(*window);
    if (room.width() <= 0 || room.height() <= 0) {
        return false;
    }
    width = room.width();
    height = room.height();
    return true;
}

void keepWindowInWorkArea(const char* windowName, int width, int height)
{
    QWidget* window = findWindow(windowName);
    if (window == nullptr) {
        return;
    }
    const QRect area = window->screen()->availableGeometry();
    const QSize outer = QSize(width, height) + frameOf(*window);
    const QPoint at = window->frameGeometry().topLeft();
    const QPoint inside(clampedTo(at.x(), area.left(), area.left() + area.width() - outer.width()),
                        clampedTo(at.y(), area.top(), area.top() + area.height() - outer.height()));
    if (inside != at) {
        window->move(inside);  // a top-level widget's position is its frame's
    }
}
