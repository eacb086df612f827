// How a step of the run ends, as a value: the exit status to end with
// (status::success to go on) and, for a failed processing, the reason the
// console shows. Memory running out is told from other failures here.
#pragma once

#include "texts.h"

#include <exception>
#include <string>

struct Outcome {
    int status = status::success;
    std::string reason;  // for status::processingFailed: why, on one line
};

inline bool succeeded(const Outcome& outcome)
{
    return outcome.status == status::success;
}

// A failure whose console text the status alone says (see texts.h).
Outcome failure(int exitStatus);

// Processing failed because `reason`: its lines are joined into one, each
// trimmed, and the "> " marks of the library's quoted conditions dropped.
Outcome processingFailure(const std::string& reason);

// Processing failed because memory ran out.
Outcome outOfMemory();

// Whether `error` says that memory ran out: std::bad_alloc, or the image
// library's failed allocation.
bool isOutOfMemory(const std::exception& error);

// Processing failed by `error`: the image library's own short reason, "out
// of memory" for std::bad_alloc, else the message of the standard exception
// (a thread the library could not start, say).
Outcome raised(const std::exception& error);

// What `step()` gives back, or the outcome of the standard exception it
// raised.
template <typename Step>
Outcome guarded(Step step)
{
    try {
        return step();
    } catch (const std::exception& error) {
        return raised(error);
    }
}
