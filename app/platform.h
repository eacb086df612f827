// What lumaLeveller needs from the operating system and its window toolkit,
// one concern per file and one implementation per platform: app/linux/
// (Qt and POSIX) and app/windows/ (Win32). Each platform file's opening
// comment says how it keeps what is promised here.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// --- Console (console.cpp) ---

// The command line's arguments after the program name, as UTF-8 where the
// system can say (so that any file name reaches the reader whole).
std::vector<std::string> programArguments(int argc, char** argv);

// Writes a UTF-8 text to standard output followed by a line feed, as puts
// does, in order with everything else printed, in the encoding the console,
// file or pipe takes.
void printText(const char* text);

// After a run that ended with one of its texts: when the console is the
// program's alone (one that Windows made for a start from Explorer, "Open
// with", a drop on the program or the Run box, and closes with it), flushes
// standard output and waits for a key, as the usage text does, so that the
// text can be read; returns at once when standard input is at its end, and
// anywhere else (a console a person opened, no console, Linux). Allocates
// nothing, so that a handler that ends the process may call it.
void waitOnOwnConsole();

// --- Input file (input_file.cpp) ---

// The largest input the in-memory decoder takes, in bytes.
constexpr std::size_t kMaxInputBytes = INT_MAX;

// The input, readied for decoding.
struct InputFile {
    enum Status { opened, unreadable, outOfMemory } status;
    std::string readerPath;           // a name the library's file reader takes, or empty
    std::vector<unsigned char> bytes; // else the input, read to its end
};

// openInputFile
//
//   Opens the file at `path` (as programArguments gives it) once and readies
//   it so that it decodes to the pixels of the library's file reader
//   (cv::imread) wherever it can: `readerPath` names the very file opened,
//   until closeInputFile; where it has no such name, or can be read only
//   once (a pipe), `bytes` holds it, read to its end (none for an empty
//   input). unreadable when the file cannot be opened or read, is a device
//   (never read: it may be endless), or holds more than kMaxInputBytes to be
//   read; outOfMemory when memory ran out reading it. A path longer than the
//   system's plain limit is opened too, where the system takes it.
InputFile openInputFile(const std::string& path);

// Closes what openInputFile left open; nothing when nothing is.
void closeInputFile();

// --- Notice and display (notice.cpp) ---

// Makes a failure of the window toolkit to reach a display (no X server,
// say) end the process cleanly: print `text`, exit with `exitStatus`,
// instead of the toolkit's abort and core dump. Call before the first
// window opens.
void exitOnDisplayFailure(const char* text, int exitStatus);

// Shows a modal information notice with one OK button and no owner window;
// returns true once the user has pressed OK or closed it, false at once
// when the system could not show it.
bool showNotice(const char* caption, const char* text);

// --- Screen (screen.cpp) ---

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

// --- Crash guard (crash_guard.cpp) ---

// From exitOnCrash to endExitOnCrash, a crash while the image library
// decodes (an abort or a memory fault in a third-party decoder given a
// malformed file, or its stack overflowing on a deeply nested one) prints
// `text` and exits with `exitStatus` instead of dying with a core dump;
// only around the decoding, so that a crash of the project's own code stays
// a crash. The library's temporary files go to a private folder meanwhile,
// which a crash, an interruption and endExitOnCrash remove with their
// contents; an interruption still ends the run as the system would.
void exitOnCrash(const char* text, int exitStatus);
void endExitOnCrash();

// --- Result file (replace_file.cpp) ---

// A file being replaced, all or nothing, through a temporary file beside
// it.
struct Replacement {
    std::string name;          // the file replaced, in the working directory
    std::string temporaryName; // the file written
    std::intptr_t file;        // the temporary file, open; -1 when it could not be made
    bool failed;               // a write failed: no more are made
};

// Starts replacing the file `name` in the working directory: a new, hidden
// temporary file of this process's own (".lumaLeveller.png.<id>-<n>.tmp"),
// with the permissions of an ordinary new file, which the content is
// written into as it is made, never held in memory whole. Until
// finishReplacing, an interruption (Ctrl+C and the like) removes it and
// then ends the run as the system would.
Replacement beginReplacing(const char* name);

// Writes the next `size` bytes into the replacement; false once a write has
// failed (a full disk, a file-size limit) or none could begin.
bool writeReplacement(Replacement& replacement, const unsigned char* bytes, std::size_t size);

// With `keep`, flushes the written file to disk and puts it in place of
// `name`, replacing a file or symbolic link of that name, never writing
// through it; returns whether `name` now holds what was written. Otherwise,
// or when that fails, removes the temporary file and leaves `name` as it
// was. Only a kill that cannot be caught (or a power cut) can leave the
// temporary file behind; `name` is then still whole, old or new.
bool finishReplacing(Replacement& replacement, bool keep);
