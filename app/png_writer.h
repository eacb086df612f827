// Writing the result as PNG, its compression spread over the cores.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <functional>

// Takes the next `size` bytes of a file being written, in order; returns
// whether it took them all. The same type as platform.h's.
using ByteSink = std::function<bool(const unsigned char* bytes, std::size_t size)>;

// pngSegments
//
//   Return: how many segments writePng cuts an image of `rows` rows of
//   `rowBytes` pixel bytes into when `threads` threads compress it: six per
//   thread, fewer when a segment would hold less than 256 KiB, so that a
//   small image takes one; never more than `rows`; at least 1.
int pngSegments(int rows, std::size_t rowBytes, int threads);

// writePng
//
//   Input:  image, 8-bit unsigned, 3 channels in blue-green-red order, at
//           least 1x1, continuous or not, and no wider than 2^24 pixels,
//           so that a row's bytes fit zlib's counts (the image reader takes
//           at most 2^20); `segments` and `threads`, at least 1.
//   Output: a PNG file of the image, given to `sink` in order as it is
//           made: 8-bit RGB, no interlace, the SUB filter on every row, the
//           rows deflated at level 1 with the RLE strategy, a 32 KiB window
//           and memory level 8 (the image library's default writer's
//           settings), and no chunks but IHDR, IDAT and IEND.
//   Return: true when `sink` took the whole file. False when `sink`
//           refused bytes (it is then called no more, and `failure` is set
//           to nullptr, even if a run failed meanwhile) or when the encoder
//           failed first: memory ran out, zlib reported an error, or the
//           image is not as above; `failure` then points to a static text
//           saying why.
//
//   The rows are cut at row boundaries into `segments` runs of about equal
//   size (one per row when there are fewer rows; more when a run would hold
//   over 512 MiB), and `threads` threads, the calling thread among them,
//   deflate the runs independently. The runs join into one zlib stream:
//   every run but the last ends with a sync flush, the last with the
//   stream's end, and the stream's Adler-32 is combined from the runs'
//   checksums. Each run is written as one IDAT chunk as soon as it and all
//   runs before it are done, so at most the runs done ahead of the writing
//   are held in memory. A thread that cannot be started leaves its share to
//   the others.
bool writePng(const cv::Mat& image, int segments, int threads, const ByteSink& sink, const char*& failure);
