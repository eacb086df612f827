/* For the Wine test: holds a file open as an image viewer or a virus
 * scanner does, for reading and sharing reads only (neither writing nor
 * deletion), so that Windows refuses to replace it.
 *
 *   windows_holder FILE MILLIS
 *
 * Opens FILE, prints "held", waits until the program under test has begun
 * its temporary file in the working directory, holds FILE MILLIS
 * milliseconds more and prints "released". Status 1 when FILE cannot be
 * opened. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        return 2;
    }
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    puts("held");
    fflush(stdout);
    WIN32_FIND_DATAA found;
    HANDLE search;
    while ((search = FindFirstFileA(".lumaLeveller.png.*.tmp", &found)) == INVALID_HANDLE_VALUE) {
        Sleep(10);
    }
    FindClose(search);
    Sleep(strtoul(argv[2], NULL, 10));
    CloseHandle(file);
    puts("released");
    return 0;
}
