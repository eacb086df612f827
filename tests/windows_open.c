/* For the Wine test: opens a file as Explorer does, through ShellExecuteEx
 * with a registry class's open command, and tells how the program ended.
 *
 *   windows_open MILLIS CLASS FILE DIRECTORY
 *
 * Runs the open command of CLASS (a ProgID, or "Applications\NAME.exe")
 * on FILE with DIRECTORY as the working directory. Prints "status N" when
 * the program ends within MILLIS milliseconds with status N; else prints
 * "running" and ends it. Status 1 when it cannot be started. The arguments
 * are taken from the wide command line, so they may hold any character. */
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

int main(void)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == NULL || argc != 5) {
        return 2;
    }
    SHELLEXECUTEINFOW open = {.cbSize = sizeof open,
                              .fMask = SEE_MASK_CLASSNAME | SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI,
                              .lpVerb = L"open",
                              .lpClass = argv[2],
                              .lpFile = argv[3],
                              .lpDirectory = argv[4],
                              .nShow = SW_SHOWNORMAL};
    if (!ShellExecuteExW(&open) || open.hProcess == NULL) {
        return 1;
    }
    DWORD status = 0;
    if (WaitForSingleObject(open.hProcess, wcstoul(argv[1], NULL, 10)) == WAIT_TIMEOUT) {
        puts("running");
        TerminateProcess(open.hProcess, 1);
    } else if (GetExitCodeProcess(open.hProcess, &status)) {
        printf("status %lu\n", status);
    }
    return 0;
}
