// Windows: the room for the result window on its monitor, from Win32.
// OpenCV's window is a frame with a title bar around a child window that
// shows the image; the library's handle for the window is the child's.
// Sizes are measured on the frame itself, so they hold for its style, the
// system's theme and the monitor's DPI, in the coordinates of the process's
// DPI awareness, as the monitor's work area is.
#include "platform.h"

#include <opencv2/highgui/highgui_c.h>

#include <windows.h>

#include <algorithm>

namespace {

// The result window's frame and where it is, the work area of its monitor,
// and what the frame's border and title bar add to the image's size.
struct Placing {
    HWND frame;
    RECT outer;
    RECT workArea;
    SIZE border;
};

// Finds the window `name` and its monitor; false when either is not found.
bool measure(const char* name, Placing& placing)
{
    const auto view = static_cast<HWND>(cvGetWindowHandle(name));
    placing.frame = view != nullptr ? GetAncestor(view, GA_ROOT) : nullptr;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    RECT client{};
    if (placing.frame == nullptr ||
        !GetMonitorInfoW(MonitorFromWindow(placing.frame, MONITOR_DEFAULTTONEAREST), &monitor) ||
        !GetWindowRect(placing.frame, &placing.outer) || !GetClientRect(placing.frame, &client)) {
        return false;
    }
    placing.workArea = monitor.rcWork;
    placing.border = {(placing.outer.right - placing.outer.left) - client.right,
                      (placing.outer.bottom - placing.outer.top) - client.bottom};
    return true;
}

// The nearest value to `at` in [low, high], `low` when the range is empty.
LONG clampedTo(LONG at, LONG low, LONG high)
{
    return std::max(low, std::min(at, high));
}

} // namespace

bool windowImageRoom(const char* windowName, int& width, int& height)
{
    Placing placing{};
    if (!measure(windowName, placing)) {
        return false;
    }
    const LONG roomWidth = (placing.workArea.right - placing.workArea.left) - placing.border.cx;
    const LONG roomHeight = (placing.workArea.bottom - placing.workArea.top) - placing.border.cy;
    if (roomWidth <= 0 || roomHeight <= 0) {
        return false;
    }
    width = roomWidth;
    height = roomHeight;
    return true;
}

void keepWindowInWorkArea(const char* windowName, int width, int height)
{
    Placing placing{};
    if (!measure(windowName, placing)) {
        return;
    }
    const RECT& area = placing.workArea;
    const LONG left = clampedTo(placing.outer.left, area.left, area.right - (width + placing.border.cx));
    const LONG top = clampedTo(placing.outer.top, area.top, area.bottom - (height + placing.border.cy));
    if (left != placing.outer.left || top != placing.outer.top) {
        SetWindowPos(placing.frame, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}
