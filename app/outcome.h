// How a step of the run ends, as a value: the exit status to end with
// (ExitStatus::success to go on) and, for a failed processing, the reason the
// console shows. Memory running out is told from other failures here.
#pragma once

#include "texts.h"

#include <exception>
#include <string>

struct Outcome {
    ExitStatus status = ExitStatus::success;
    std::string reason;  // for ExitStatus::processingFailed: why, on one line
};

inline bool succeeded(const Outcome& outcome)
{
    return outcome.status == ExitStatus::success;
}

// A failure whose console text the status alone says (see texts.h).
Outcome failure(ExitStatus exitStatus);

// Processing failed because `reason`: its lines are joined into one, each
// trimmed, and the "> " marks of OpenCV's quoted conditions dropped.
Outcome processingFailure(const std::string& reason);

// Processing failed because memory ran out.
Outcome outOfMemory();

// outcomeOf
//
//   The outcome of `error`, raised by OpenCV or the C++ library while a step
//   ran: the one place where an exception becomes an outcome. Memory running
//   out is a processing failure wherever it is raised, "out of memory" for
//   std::bad_alloc and OpenCV's own words for its failed allocation
//   (cv::Error::StsNoMem). Any other cv::Exception is OpenCV refusing what
//   the step gave it: `refusal` where the step has a status of its own for
//   that (cv::imread refusing a file: an unreadable input; cv::imshow
//   failing: no window), else a processing failure with OpenCV's own short
//   reason. Any other standard exception is a processing failure with its
//   message (a thread that could not be started, say).
Outcome outcomeOf(const std::exception& error, ExitStatus refusal = ExitStatus::processingFailed);

// What `step()` gives back, or outcomeOf the standard exception it raised.
template <typename Step>
Outcome guarded(Step step, ExitStatus refusal = ExitStatus::processingFailed)
{
    try {
        return step();
    } catch (const std::exception& error) {
        return outcomeOf(error, refusal);
    }
}
