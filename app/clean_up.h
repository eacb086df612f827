// What an interruption or a crash removes: the files and folders that the
// run makes for its own use and removes itself when it ends normally (the
// temporary result file, the decoder's scratch folder), registered here
// while they may exist, one of each kind at a time, in fixed storage.
//
// The rule for the handlers. The interruption and crash handlers
// (platform.h) call only async-signal-safe functions: nothing that
// allocates, takes a lock the interrupted code may hold, uses a C library
// stream, sleeps or tries again in a loop. removeLeftovers keeps it: it
// reads this fixed storage through lock-free atomics and calls removeFile
// or removeFolder once for each entry, which keep it too (platform.h).
//
// How a handler reads whole paths. Only the run's own thread registers and
// forgets. A path is copied into the one of its slot's two buffers that was
// not written last, and only then published; forgetting unpublishes it. A
// handler loads the published path once and reads that buffer, which the
// run's thread writes again only on the second registration of that slot
// after it. On Linux the handlers run on the run's thread, interrupting it,
// so nothing is registered while they read. On Windows the interruption
// handler runs on a thread of its own while the work goes on: it first
// stops every creation, rename and removal of a file or folder for good
// (holdFileChanges in windows/files.h), and the run makes a file or folder
// between any two registrations of a slot (the temporary file is
// registered before each name is tried, the scratch folder once made), so
// it can register each slot at most once more before it stops for good,
// into the buffer the handler is not reading.
#pragma once

#include <cstddef>

// What kind of thing is registered; each kind has one slot.
enum class Leftover { file, folder };

// The longest path registered, in bytes, its terminating null included.
constexpr std::size_t kMaxLeftoverPath = 4096;

// Registers the file or folder `path` (as removeFile or removeFolder takes
// it) for removal by removeLeftovers, in place of what its kind had; false,
// the kind's slot then empty, when the path is too long.
bool registerLeftover(Leftover kind, const char* path);

// Removes the registration of `kind`, if any: the run has removed it, or
// made it the result.
void forgetLeftover(Leftover kind);

// Removes what is registered, each with one try (removeFile, removeFolder),
// within the handlers' rule above.
void removeLeftovers();
