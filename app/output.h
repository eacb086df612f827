// Writing the result file.
#pragma once

#include "outcome.h"

#include <opencv2/core.hpp>

#include <cstddef>
#include <string>
#include <vector>

struct OsFile;

// saveResult
//
//   Encodes `result` (8-bit, 3 channels, blue-green-red) as PNG with
//   writePng, on as many threads as OpenCV uses (cv::getNumThreads), in runs
//   of pngRunRows rows (so the file's bytes do not depend on the threads),
//   and puts it in the working directory as "lumaLeveller.png", all or
//   nothing: an earlier file of that name is either replaced whole or left as
//   it was, and no temporary file stays behind. The file is written as the
//   encoder makes it. Gives back success; ExitStatus::notWritten when the
//   file could not be written; a processing failure with the encoder's reason
//   when the encoder failed (memory ran out, say). A `profile` (the bytes
//   of an ICC profile for RGB) goes into the file as its iCCP chunk; none
//   when it is empty.
Outcome saveResult(const cv::Mat& result, const std::vector<unsigned char>& profile = {});

// A file being replaced, all or nothing, through a temporary file beside
// it.
struct Replacement {
    std::string name;          // the file replaced, in the working directory
    std::string temporaryName; // the file written
    OsFile* file;              // the temporary file, open; null when none could be made
    bool failed;               // a write failed: no more are made
};

// Starts replacing the file `name` in the working directory: a new, hidden
// temporary file of this process's own (".<name>.<process id>-<n>.tmp", n
// the first of 0 to 99 that no file has), which an interruption or a crash
// removes (clean_up.h) and the content is written into as it is made,
// never held in memory whole. No file is made when all 100 names are taken
// or the system refuses: every write then fails.
Replacement beginReplacing(const char* name);

// Writes the next `size` bytes into the replacement; false once a write has
// failed (a full disk, a file-size limit) or none could begin.
bool writeReplacement(Replacement& replacement, const unsigned char* bytes, std::size_t size);

// With `keep`, flushes the written file to disk and puts it in place of
// `name` (renameOver; while another process holds `name` open, tried again
// with growing pauses for about two seconds); returns whether `name` now
// holds what was written.
// Otherwise, or when a write, the flush, the close or the rename failed,
// removes the temporary file and leaves `name` as it was. Only a kill that
// cannot be caught (or a power cut) can leave the temporary file behind;
// `name` is then still whole, old or new.
bool finishReplacing(Replacement& replacement, bool keep);
