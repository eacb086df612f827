// A PNG writer for 8-bit colour images, its deflate spread over the cores.
// It knows nothing of the program that calls it: it takes an image and a
// sink for the file's bytes, and says why when it fails.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <functional>

// Takes the next `size` bytes of a file being written, in order; returns
// whether it took them all.
using ByteSink = std::function<bool(const unsigned char* bytes, std::size_t size)>;

// How writePng ended: the whole file given to the sink; the sink refusing
// bytes; or the encoder failing first, with its reason, a static English
// text on one line without a full stop (nullptr unless `failed`).
struct PngWrite {
    enum Ending { written, refused, failed } ending;
    const char* failure;
};

// An ICC colour profile for the file's iCCP chunk: its name, 1 to 79
// Latin-1 characters (codes 32 to 126 and 161 to 255), no space at either
// end nor two in a row, as PNG has it; and its `size` bytes, 1 to 2^30.
struct PngProfile {
    const char* name;
    const unsigned char* bytes;
    std::size_t size;
};

// pngRunRows
//
//   Return: how many rows make one run, the unit that writePng deflates on
//   one thread, for an image `width` pixels wide: as many as fill 1 MiB of
//   filtered rows, at least 1. It depends on the width alone, never on the
//   number of threads, so that the file's bytes do not either.
int pngRunRows(int width);

// writePng
//
//   Input:  image, 8-bit unsigned, 3 channels in blue-green-red order, at
//           least 1x1, continuous or not, and no wider than 2^24 pixels, so
//           that a run's bytes fit the deflate's 32-bit counts (a one-pixel
//           image, a single row and a row of 2^24 pixels are all fine);
//           `runRows`, the rows per run (pngRunRows gives the usual one),
//           and `threads`, at least 1; `profile`, a colour profile or
//           null.
//   Output: a PNG file of the image, given to `sink` in order as it is
//           made: the signature, IHDR (8-bit RGB, no interlace), with a
//           `profile` an iCCP chunk (its name, and its bytes as they are,
//           deflated by zlib; left out when memory runs out deflating
//           it), IDAT chunks, one per run, and IEND; no other chunk. The
//           profile's bytes are not checked: one that does not describe
//           RGB, or that is damaged, makes decoders warn or leave it out.
//           Each row has whichever of the SUB and Paeth filters gives the
//           smaller sum of magnitudes of its filtered bytes, each read as a signed byte;
//           SUB on a tie. The rule reads that row and the one above alone
//           (zeros above the first row, as PNG has it), so a row gets the
//           same filter however the rows are cut into runs and whatever
//           the threads. The IDAT data are one zlib stream (its header
//           says 32 KiB window) deflated by ISA-L's igzip at its level 1,
//           with matches at most 4 bytes back, in blocks of at most 16 Ki
//           symbols.
//   Return: written when `sink` took the whole file; refused when `sink`
//           refused bytes (it is then called no more), even if a run failed
//           meanwhile; failed, with the reason, when the encoder failed
//           first: memory ran out ("out of memory"), the deflate reported
//           an error, or the image, the counts or the profile's name or
//           size are not as above. Nothing is given to `sink` when the
//           profile is refused.
//
//   The rows are cut into runs of `runRows` rows from the top (fewer when
//   so many would pass 512 MiB of filtered rows), the last run taking what
//   is left. `threads` threads filter and deflate the runs independently
//   (a run's first row is filtered against the image's row above it, which
//   is in memory), each into a piece of the stream that ends with a sync
//   flush (the last with the stream's end); the stream's Adler-32 is
//   combined from the runs' checksums. The file's bytes depend on the image
//   and `runRows` alone, not on `threads` nor on the order in which the
//   runs are done; igzip picks its code for the processor, so another
//   machine may deflate to other bytes of the same pixels. The calling
//   thread gives each run to `sink` as an IDAT chunk as soon as it and all
//   runs before it are done. A run's rows are read only once fewer than
//   2 x `threads` runs before it wait for `sink`, so however slow `sink`,
//   at most that many runs wait in memory, deflated or being deflated,
//   besides each thread's run of filtered rows and three rows of pixels. A
//   thread that cannot be started leaves its share to the others, or to
//   the calling thread when none can. Thread-safe: calls on different
//   images, or on the same image, may run at once.
PngWrite writePng(const cv::Mat& image, int runRows, int threads, const ByteSink& sink,
                  const PngProfile* profile = nullptr);
