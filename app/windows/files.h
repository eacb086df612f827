// What the interruption handler (process.cpp) needs of files.cpp on
// Windows, where it runs on a thread of its own while the work goes on.
#pragma once

// Stops every creation, rename and removal of a file or folder through
// files.cpp on other threads, for good, once those under way have finished;
// this thread's go on. What the calling thread then removes stays removed.
void holdFileChanges();
