// What lumaLeveller needs from the operating system and its window toolkit:
// one implementation per platform (Qt and POSIX on Linux, Win32 on Windows).
#pragma once

#include <cstddef>

// Writes a UTF-8 text to standard output with puts, which appends a line
// feed. On Windows the text is converted to the console's output code page
// first (GBK under code page 936); on Linux the bytes go out unchanged.
void printText(const char* text);

// Makes a failure of the window toolkit to reach a display (no X server,
// say) end the process cleanly: print `text`, exit with `exitStatus`,
// instead of the toolkit's abort and core dump. Call before the first
// window opens.
void exitOnDisplayFailure(const char* text, int exitStatus);

// Makes a crash while the image library decodes a file (an abort or a
// memory fault inside a third-party decoder given a malformed file) end the
// process cleanly: print `text`, exit with `exitStatus`, instead of dying by
// the signal with a core dump. In force until endExitOnCrash; only around
// the decoding, so that a crash of the project's own code stays a crash.
void exitOnCrash(const char* text, int exitStatus);
void endExitOnCrash();

// Shows a modal information notice with one OK button and no owner window;
// returns once the user has pressed OK or closed it.
void showNotice(const char* caption, const char* text);

// Replaces the file `name` in the working directory with `size` bytes,
// all or nothing: the bytes go to a new temporary file beside it, are
// flushed to disk and renamed over `name`. On any failure `name` is left as
// it was and the temporary file is removed. The new file has the permissions
// of an ordinary new file; a symbolic link named `name` is replaced, never
// written through. Returns whether the file now holds the bytes.
// On Linux a run interrupted during the call by SIGINT, SIGTERM or SIGHUP
// (unless ignored) removes the temporary file and then still ends by that
// signal. A kill that cannot be caught (SIGKILL, a power cut) and, on
// Windows, any interruption can leave the temporary file behind: it is
// hidden (".lumaLeveller.png.<process id>-<n>.tmp"), never taken for the
// result, and `name` is then still whole, old or new.
bool replaceFile(const char* name, const unsigned char* bytes, std::size_t size);
