// What lumaLeveller needs from the operating system and its window toolkit
// (Qt on Linux, Win32 on Windows): primitives only, the parts that differ
// between the systems. What is built on them (the result file replaced all or
// nothing, the decoder's scratch folder, what an interruption or a crash
// removes) is written once, in input.cpp, output.cpp and clean_up.cpp. Three
// files per platform, of the same names in app/linux/ (POSIX and Qt) and
// app/windows/ (Win32): process.cpp, files.cpp, window.cpp; each says how it
// keeps what is promised here.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// --- The process and its console (process.cpp) ---

// The command line's arguments after the program name, as UTF-8 where the
// system can say (so that any file name reaches cv::imread whole).
std::vector<std::string> programArguments(int argc, char** argv);

// Writes a UTF-8 text to standard output followed by a line feed, as puts
// does, in order with everything else printed, in the encoding the console,
// file or pipe takes.
void printText(const char* text);

// Readies `text` for printPreparedText, which prints it as printText would
// but keeps the handlers' rule (clean_up.h), so that a crash handler may
// call it.
void prepareText(const char* text);
void printPreparedText();

// After a run that ended with one of its texts: when the console is the
// program's alone (one that Windows made for a start from Explorer and
// closes with it), flushes standard output and waits for a key, so that the
// text can be read; returns at once anywhere else, and when standard input
// is at its end. Allocates nothing.
void waitOnOwnConsole();

// This process's id, for names no other running process makes.
unsigned long processId();

// Sets the environment variable `name` to `value`, as OpenCV reads it
// (getenv); removes it when `value` is null.
void setEnvironment(const char* name, const char* value);

// From now on, an interruption (Ctrl+C, a closed terminal or console, a
// polite kill), unless the run ignores it, calls `cleanUp` and then ends
// the run as the system would have ended it. `cleanUp` keeps the handlers'
// rule (clean_up.h). It runs on the thread that installed it, or, where it
// runs on one of its own (Windows), once files.cpp makes, renames and
// removes no more files or folders for other threads, and once the span
// from handleCrashes to endHandlingCrashes has ended, or three seconds
// have passed in it.
void handleInterruptions(void (*cleanUp)());

// From handleCrashes to endHandlingCrashes, a crash (an abort, a memory
// fault, an illegal instruction or a stack overflow) calls `onCrash`, which
// must end the process and keeps the handlers' rule (clean_up.h). The span
// is where third-party decoders run, which may hold files open in a folder
// that an interruption removes: where the interruption handler runs on a
// thread of its own (Windows), it waits for the span to end, as a file held
// open cannot be removed there.
void handleCrashes(void (*onCrash)());
void endHandlingCrashes();

// --- Files (files.cpp) ---

// An open file.
struct OsFile;

// Creates the file `name` in the working directory, new (never an existing
// file, nor through a symbolic link), for writing, with the permissions of
// an ordinary new file; null when it cannot, with `exists` telling whether
// that is because something of that name exists.
OsFile* createNewFile(const char* name, bool& exists);

// Writes up to `size` bytes: how many (at least one), or 0 or less when the
// system takes none (a full disk, a file-size limit).
long long writeFile(OsFile* file, const unsigned char* bytes, std::size_t size);

// Flushes what was written to the disk.
bool flushFile(OsFile* file);

// Closes the file and frees `file`, even when closing fails.
bool closeFile(OsFile* file);

// Puts the file `from` in place of `to` at once, replacing a file or a
// symbolic link of that name (never writing through it) so that `to` is
// whole before and after, old or new; false, `to` as it was, when it cannot,
// with `held` telling whether that is because another process holds `to`
// open for the moment, so that a later try may succeed.
bool renameOver(const char* from, const char* to, bool& held);

// Removes the file `name`, if it can, with one try; keeps the handlers'
// rule (clean_up.h).
void removeFile(const char* name);

// The system's folder for temporary files, as OpenCV reads paths; empty when
// there is none, or it cannot be given so.
std::string temporaryFolder();

// Makes the folder `path` (as OpenCV reads paths), new, that only this user
// can use; false when it cannot, with `exists` telling whether that is
// because something of that name exists.
bool makeFolder(const char* path, bool& exists);

// Removes the files that lie directly in the folder `path`, then the
// folder, with one try, keeping the handlers' rule (clean_up.h); false when
// a file in it is held open for the moment (Windows), so that a later try
// may succeed: the folder then stays with the files held.
bool removeFolder(const char* path);

// What an input file is: a device (a console, a terminal, a disk opened
// whole: never read, it may be endless), a regular file on disk, or a
// stream that can be read only once (a pipe).
enum class FileKind { device, regular, stream };

// Opens the file at `path` (as programArguments gives it) for reading,
// letting others go on reading, writing or deleting it; null when it
// cannot. `kind` says what it is, and `size` a regular file's size. A path
// longer than the system's plain limit is opened too, where the system
// takes it.
OsFile* openForReading(const std::string& path, FileKind& kind, std::size_t& size);

// Reads up to `capacity` bytes into `buffer`: how many, 0 at the end, or a
// negative number for an error.
long long readFile(OsFile* file, unsigned char* buffer, std::size_t capacity);

// A name by which cv::imread opens the very regular file open as `file`,
// while it stays open; empty when there is none.
std::string readerName(OsFile* file);

// --- The window and the notice (window.cpp) ---

// Makes a failure of the window toolkit (Qt on Linux) to reach a display
// (none named, or gone while the window is up) end the process cleanly:
// print `text`, exit with `exitStatus`, instead of Qt's abort and core dump.
// Call before the first window opens.
void exitOnDisplayFailure(const char* text, int exitStatus);

// Where a window is, and the room around it, in the units the window draws
// an image's pixels in.
struct WindowPlace {
    int left, top;                // its outer top-left corner, frame included
    int frameWidth, frameHeight;  // what its frame and title bar add to the image
    int areaLeft, areaTop, areaWidth, areaHeight;  // its screen less task bars and docks
};

// Measures the window `windowName` (made already by cv::namedWindow) on the
// screen it is on; false, `place` as it was, when the window or its screen
// cannot be found.
bool measureWindow(const char* windowName, WindowPlace& place);

// Moves the window `windowName` so that its outer top-left corner is at
// (`left`, `top`); nothing when it cannot be found.
void moveWindow(const char* windowName, int left, int top);

// Shows a modal information notice with one OK button and no owner window;
// returns true once the user has pressed OK or closed it, false at once
// when the system could not show it.
bool showNotice(const char* caption, const char* text);
