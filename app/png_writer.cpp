#include "png_writer.h"

#include "texts.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

// The image library's default PNG writer's settings.
constexpr int kLevel = Z_BEST_SPEED;
constexpr int kStrategy = Z_RLE;
constexpr int kWindowBits = 15;
constexpr int kMemoryLevel = 8;
constexpr unsigned char kSubFilter = 1;

constexpr unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// What zlib puts before a stream with a 32 KiB window at these settings.
constexpr unsigned char kZlibHeader[] = {0x78, 0x01};
constexpr std::size_t kAdlerSize = 4;
// An empty stored block ends a sync flush: at most 5 bytes and 2 bits
// beyond deflateBound, which bounds a stream ending with Z_FINISH.
constexpr std::size_t kSyncFlushSize = 6;

constexpr int kSegmentsPerThread = 6;
constexpr std::size_t kMinSegmentBytes = std::size_t{256} << 10;
// Keeps each run's sizes within zlib's 32-bit counts and a chunk's length.
constexpr std::size_t kMaxSegmentBytes = std::size_t{512} << 20;
constexpr int kMaxWidth = 1 << 24;

// A run of rows and, once deflated, its bytes.
struct Segment {
    int firstRow = 0;
    int rows = 0;
    // The deflated rows; the first run's begin with the zlib header, and the
    // last run's have room for the Adler-32 after them.
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size = 0;
    uLong adler = 1;  // of the filtered rows
    bool done = false;
};

// What the threads of one writePng share.
struct Encoding {
    const cv::Mat& image;
    std::vector<Segment> segments{};
    std::atomic<int> next{0};  // the first run no thread has taken
    std::atomic<bool> stopped{false};
    std::mutex mutex{};  // guards the runs' `done` and `failure`
    std::condition_variable changed{};
    const char* failure = nullptr;
};

void putBigEndian(unsigned char* at, std::uint32_t value)
{
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

std::size_t filteredRowSize(const cv::Mat& image)
{
    return 1 + 3 * static_cast<std::size_t>(image.cols);
}

const char* zlibFailure(int code)
{
    return code == Z_MEM_ERROR ? texts::outOfMemoryReason : zError(code);
}

// Writes row `y` of `image` to `out` as PNG stores it with the SUB filter:
// the filter's number, then the pixels in red-green-blue order, each byte
// less the same channel's byte one pixel to the left (0 left of the first).
void filterRow(const cv::Mat& image, int y, unsigned char* out)
{
    const unsigned char* bgr = image.ptr<unsigned char>(y);
    const std::size_t bytes = 3 * static_cast<std::size_t>(image.cols);
    out[0] = kSubFilter;
    out[1] = bgr[2];
    out[2] = bgr[1];
    out[3] = bgr[0];
    for (std::size_t i = 3; i < bytes; i += 3) {
        out[1 + i] = static_cast<unsigned char>(bgr[i + 2] - bgr[i - 1]);
        out[2 + i] = static_cast<unsigned char>(bgr[i + 1] - bgr[i - 2]);
        out[3 + i] = static_cast<unsigned char>(bgr[i] - bgr[i - 3]);
    }
}

// Filters and deflates the rows of `segment` into its bytes as a piece of a
// raw deflate stream: ended by a sync flush, or, for the last run, as the
// stream's end. Returns nullptr, or why it failed.
const char* deflateSegment(const cv::Mat& image, Segment& segment, bool first, bool last)
{
    z_stream stream{};
    int code = deflateInit2(&stream, kLevel, Z_DEFLATED, -kWindowBits, kMemoryLevel, kStrategy);
    if (code != Z_OK) {
        return zlibFailure(code);
    }
    const std::size_t rowSize = filteredRowSize(image);
    const uLong rawSize = static_cast<uLong>(rowSize * static_cast<std::size_t>(segment.rows));
    const std::size_t room = deflateBound(&stream, rawSize) + kSyncFlushSize;
    const std::size_t headerSize = first ? sizeof kZlibHeader : 0;
    std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[headerSize + room + kAdlerSize]);
    std::unique_ptr<unsigned char[]> row(new (std::nothrow) unsigned char[rowSize]);
    if (!bytes || !row) {
        deflateEnd(&stream);
        return texts::outOfMemoryReason;
    }
    std::memcpy(bytes.get(), kZlibHeader, headerSize);
    stream.next_out = bytes.get() + headerSize;
    stream.avail_out = static_cast<uInt>(room);
    uLong adler = adler32(0, nullptr, 0);
    for (int y = segment.firstRow; y < segment.firstRow + segment.rows && code == Z_OK; ++y) {
        filterRow(image, y, row.get());
        adler = adler32_z(adler, row.get(), rowSize);
        stream.next_in = row.get();
        stream.avail_in = static_cast<uInt>(rowSize);
        code = deflate(&stream, Z_NO_FLUSH);
        if (code == Z_OK && stream.avail_in != 0) {
            code = Z_BUF_ERROR;  // out of room: deflateBound was wrong
        }
    }
    if (code == Z_OK) {
        code = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
        const bool complete = last ? code == Z_STREAM_END : code == Z_OK && stream.avail_out != 0;
        code = complete ? Z_OK : Z_BUF_ERROR;
    }
    segment.size = headerSize + room - stream.avail_out;
    deflateEnd(&stream);
    if (code != Z_OK) {
        return zlibFailure(code);
    }
    segment.bytes = std::move(bytes);
    segment.adler = adler;
    return nullptr;
}

// Takes the next run that no thread has taken and deflates it. Returns
// false when none was left, the encoding has stopped or the run failed.
bool deflateNext(Encoding& encoding)
{
    const int count = static_cast<int>(encoding.segments.size());
    const int index = encoding.stopped ? count : encoding.next++;
    if (index >= count) {
        return false;
    }
    Segment& segment = encoding.segments[static_cast<std::size_t>(index)];
    const char* failure = deflateSegment(encoding.image, segment, index == 0, index == count - 1);
    {
        const std::lock_guard<std::mutex> lock(encoding.mutex);
        segment.done = failure == nullptr;
        if (failure != nullptr && encoding.failure == nullptr) {
            encoding.failure = failure;
            encoding.stopped = true;
        }
    }
    encoding.changed.notify_all();
    return failure == nullptr;
}

void deflateAll(Encoding& encoding)
{
    while (deflateNext(encoding)) {
    }
}

// Waits until run `index` is deflated, deflating runs itself while any are
// left. Returns false when the encoding failed.
bool awaitSegment(Encoding& encoding, std::size_t index)
{
    const Segment& segment = encoding.segments[index];
    std::unique_lock<std::mutex> lock(encoding.mutex);
    while (!segment.done && encoding.failure == nullptr) {
        lock.unlock();
        const bool deflated = deflateNext(encoding);
        lock.lock();
        if (!deflated) {
            encoding.changed.wait(lock, [&] { return segment.done || encoding.failure != nullptr; });
        }
    }
    return encoding.failure == nullptr;
}

// Gives one chunk to `sink`: its length, type, data and CRC.
bool writeChunk(const ByteSink& sink, const char* type, const unsigned char* data, std::size_t size)
{
    unsigned char head[8];
    putBigEndian(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (size > 0) {
        crc = crc32_z(crc, data, size);
    }
    unsigned char tail[4];
    putBigEndian(tail, static_cast<std::uint32_t>(crc));
    return sink(head, sizeof head) && (size == 0 || sink(data, size)) && sink(tail, sizeof tail);
}

bool writeHeader(const ByteSink& sink, const cv::Mat& image)
{
    unsigned char header[13] = {0, 0, 0, 0, 0, 0, 0, 0, 8, 2, 0, 0, 0};  // 8-bit RGB, no interlace
    putBigEndian(header, static_cast<std::uint32_t>(image.cols));
    putBigEndian(header + 4, static_cast<std::uint32_t>(image.rows));
    return sink(kSignature, sizeof kSignature) && writeChunk(sink, "IHDR", header, sizeof header);
}

// Gives the whole file to `sink`, each run as an IDAT chunk once it is done.
// Returns false when a run failed or `sink` refused bytes; `refused` tells
// which.
bool writeFile(Encoding& encoding, const ByteSink& sink, bool& refused)
{
    refused = true;
    if (!writeHeader(sink, encoding.image)) {
        return false;
    }
    const std::size_t rowSize = filteredRowSize(encoding.image);
    uLong adler = adler32(0, nullptr, 0);
    for (std::size_t index = 0; index < encoding.segments.size(); ++index) {
        if (!awaitSegment(encoding, index)) {
            refused = false;
            return false;
        }
        Segment& segment = encoding.segments[index];
        adler = adler32_combine(adler, segment.adler, static_cast<z_off_t>(rowSize * segment.rows));
        if (index + 1 == encoding.segments.size()) {
            putBigEndian(segment.bytes.get() + segment.size, static_cast<std::uint32_t>(adler));
            segment.size += kAdlerSize;
        }
        if (!writeChunk(sink, "IDAT", segment.bytes.get(), segment.size)) {
            return false;
        }
        segment.bytes.reset();
    }
    return writeChunk(sink, "IEND", nullptr, 0);
}

// Cuts the image's rows into `count` runs of about equal size, or more when
// a run would be too large for zlib's counts; never more than the rows.
std::vector<Segment> cutIntoSegments(const cv::Mat& image, int count)
{
    const std::size_t rawSize = filteredRowSize(image) * static_cast<std::size_t>(image.rows);
    const std::size_t needed = (rawSize + kMaxSegmentBytes - 1) / kMaxSegmentBytes;
    const int runs = static_cast<int>(std::min<std::size_t>(std::max<std::size_t>(count, needed), image.rows));
    std::vector<Segment> segments(static_cast<std::size_t>(runs));
    for (int k = 0; k < runs; ++k) {
        const auto rowAt = [&](int run) { return static_cast<int>(std::int64_t{image.rows} * run / runs); };
        segments[static_cast<std::size_t>(k)].firstRow = rowAt(k);
        segments[static_cast<std::size_t>(k)].rows = rowAt(k + 1) - rowAt(k);
    }
    return segments;
}

// Starts up to `count` threads that deflate runs into `workers`; as many as
// the system gives.
void startWorkers(Encoding& encoding, int count, std::vector<std::thread>& workers)
{
    try {
        workers.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            workers.emplace_back(deflateAll, std::ref(encoding));
        }
    } catch (const std::exception&) {
        // A thread that failed to start was not added.
    }
}

} // namespace

int pngSegments(int rows, std::size_t rowBytes, int threads)
{
    if (rows <= 1) {
        return 1;
    }
    const std::size_t bySize = (rowBytes + 1) * static_cast<std::size_t>(rows) / kMinSegmentBytes;
    const std::size_t byThreads = static_cast<std::size_t>(std::max(threads, 1)) * kSegmentsPerThread;
    const std::size_t count = std::min({bySize, byThreads, static_cast<std::size_t>(rows)});
    return static_cast<int>(std::max<std::size_t>(count, 1));
}

bool writePng(const cv::Mat& image, int segments, int threads, const ByteSink& sink, const char*& failure)
{
    failure = nullptr;
    if (image.type() != CV_8UC3 || image.empty() || image.cols > kMaxWidth || segments < 1 || threads < 1) {
        failure = texts::unsupportedImageReason;
        return false;
    }
    Encoding encoding{image};
    std::vector<std::thread> workers;
    try {
        encoding.segments = cutIntoSegments(image, segments);
    } catch (const std::bad_alloc&) {
        failure = texts::outOfMemoryReason;
        return false;
    }
    // The calling thread deflates too, while it waits for the next run.
    startWorkers(encoding, std::min(threads, static_cast<int>(encoding.segments.size())) - 1, workers);
    bool refused = false;
    const bool written = writeFile(encoding, sink, refused);
    encoding.stopped = true;
    for (std::thread& worker : workers) {
        worker.join();
    }
    failure = written || refused ? nullptr : encoding.failure;
    return written;
}
