// The signal handlers of the Linux platform files. Clean-up on
// interruption: the write of the result and the decoding register what they
// leave on disk while it may exist (the temporary result file, the
// decoder's scratch folder). While anything is registered, SIGHUP, SIGINT,
// SIGQUIT and SIGTERM (unless ignored) remove it and then end the run by
// that signal, so that whoever sent it still sees the run killed by it.
#pragma once

// Registers `name` (in the working directory) as the temporary result
// file, before it is created, on the thread that writes it; released once
// it is renamed or removed.
void registerTemporaryFile(const char* name);
void releaseTemporaryFile();

// Registers the folder `path`, open as `descriptor`, as the decoder's
// scratch folder, whose files lie directly in it, on the decoding thread.
// Releasing it removes it with its files and closes `descriptor`.
void registerScratchFolder(const char* path, int descriptor);
void releaseScratchFolder();

// Removes what is registered, with async-signal-safe calls only (for a
// crash handler too).
void removeRegistered();

// Makes `handler` handle SIGABRT, SIGBUS, SIGFPE, SIGILL and SIGSEGV, on a
// stack of its own, until endHandlingCrashes.
void handleCrashes(void (*handler)(int));
void endHandlingCrashes();
