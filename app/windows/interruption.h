// Clean-up on interruption for the Windows platform files: the write of the
// result and the decoding register what they leave on disk while it may
// exist (the temporary result file, the decoder's scratch folder). While
// anything is registered, Ctrl+C (unless ignored), Ctrl+Break or a closed
// console removes it and then ends the run with STATUS_CONTROL_C_EXIT, as
// the system's own handler ends it. The handler runs on a thread of its
// own while the work goes on.
#pragma once

#include <windows.h>

#include <string>

// The temporary result file. Between registerTemporaryFile and
// releaseTemporaryFile, each creation, rename or removal of it happens
// between lockTemporaryFile and unlockTemporaryFile, which names the file
// that exists after it (nullptr for none), so that the handler sees it
// wholly before or after; once the handler has removed the file, no rename
// follows.
void registerTemporaryFile();
void lockTemporaryFile();
void unlockTemporaryFile(const char* existing);
void releaseTemporaryFile();

// The decoder's scratch folder `folder`, whose files lie directly in it. A
// file the decoder holds open cannot be removed, so the handler waits up to
// a few seconds for releaseScratchFolder, which removes the folder with its
// files, and after that removes what it can.
void registerScratchFolder(const std::wstring& folder);
void releaseScratchFolder();

// Removes the registered scratch folder's files and the folder, as far as
// nothing holds them open (for a crash handler too).
void removeScratchFolder();

// Ends the process at once as the system's own console control handler
// ends a console program: with STATUS_CONTROL_C_EXIT; nothing of the
// interrupted work runs after it, not even the program's exit handlers.
[[noreturn]] void endAsInterrupted();
