// Where console texts go on Windows, for console.cpp and the crash guard,
// which prepares its text before a crash so that it writes it without
// converting anything.
#pragma once

#include <windows.h>

// Standard output's console, or nullptr when it is a file, a pipe or none.
HANDLE outputConsole();

// The code page of texts written as bytes: the console's output code page,
// or the ANSI code page when the process has no console.
UINT byteCodePage();
