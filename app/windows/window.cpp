// Windows: the result window and its monitor, from Win32; the notice is a
// Win32 message box with UTF-16 texts. Win32 windows need no display server,
// so there is no display to lose: a failure to open the window reaches the
// run as OpenCV's exception. OpenCV's window is a frame with a title bar
// around a child window that shows the image; OpenCV's handle for the window
// (cvGetWindowHandle) is the child's. Sizes are measured on the frame itself,
// so they hold for its style, the system's theme and the monitor's DPI, in
// the coordinates of the process's DPI awareness, as the monitor's work area
// is: physical pixels for a process that is DPI aware, the system's scaled
// ones for one that is not (the system then stretches the whole window).
#include "platform.h"
#include "text_encoding.h"

#include <opencv2/highgui/highgui_c.h>

#include <windows.h>

namespace {

// The frame of the window `name`, or nullptr when it is not found.
HWND frameOf(const char* name)
{
    const auto view = static_cast<HWND>(cvGetWindowHandle(name));
    return view != nullptr ? GetAncestor(view, GA_ROOT) : nullptr;
}

} // namespace

bool measureWindow(const char* windowName, WindowPlace& place)
{
    const HWND frame = frameOf(windowName);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    RECT outer{};
    RECT client{};
    if (frame == nullptr || !GetMonitorInfoW(MonitorFromWindow(frame, MONITOR_DEFAULTTONEAREST), &monitor) ||
        !GetWindowRect(frame, &outer) || !GetClientRect(frame, &client)) {
        return false;
    }
    const RECT& area = monitor.rcWork;
    place = {outer.left, outer.top, (outer.right - outer.left) - client.right, (outer.bottom - outer.top) - client.bottom,
             area.left, area.top, area.right - area.left, area.bottom - area.top};
    return true;
}

void moveWindow(const char* windowName, int left, int top)
{
    const HWND frame = frameOf(windowName);
    if (frame != nullptr) {
        SetWindowPos(frame, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void exitOnDisplayFailure(const char*, int) {}  // no display to lose

bool showNotice(const char* caption, const char* text)
{
    // MessageBoxW gives 0 when it could make no box (a session without a
    // desktop, say); the user has then confirmed nothing.
    return MessageBoxW(nullptr, toWide(text).c_str(), toWide(caption).c_str(), MB_ICONINFORMATION | MB_OK) != 0;
}
