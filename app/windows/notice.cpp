// Windows: the notice is a Win32 message box with UTF-16 texts. Win32
// windows need no display server, so there is no display to fail.
#include "platform.h"
#include "text_encoding.h"

void exitOnDisplayFailure(const char*, int)
{
    // Win32 windows need no display server; a failure to open the window
    // reaches the driver as the library's exception.
}

bool showNotice(const char* caption, const char* text)
{
    // MessageBoxW gives 0 when it could make no box (a session without a
    // desktop, say); the user has then confirmed nothing.
    return MessageBoxW(nullptr, toWide(text).c_str(), toWide(caption).c_str(), MB_ICONINFORMATION | MB_OK) != 0;
}
