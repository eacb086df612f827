/* For the Wine test: prints the frame that Windows (here Wine, whose
 * metrics change between versions) puts around the client area of a
 * window with a title bar and fixed borders, as the result window has:
 * the border's width and the title bar's height in pixels, "3 19" under
 * Wine 8 at 96 DPI.
 *
 *   windows_frame */
#include <windows.h>

#include <stdio.h>

int main(void)
{
    RECT frame = {0, 0, 100, 100};
    if (!AdjustWindowRectEx(&frame, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, FALSE, 0)) {
        return 1;
    }
    printf("%ld %ld\n", -frame.left, -frame.top + frame.left);
    return 0;
}
