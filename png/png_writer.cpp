#include "png_writer.h"

#include <isa-l/igzip_lib.h>
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

// The writer's failures.
constexpr const char* kOutOfMemory = "out of memory";
constexpr const char* kUnsupportedImage = "the PNG writer takes 8-bit colour images only";
constexpr const char* kBadCounts = "the PNG writer needs at least one row per run and one thread";
constexpr const char* kDeflateStopped = "the deflate stopped before the end of its input";

// igzip's level, window and work space. Level 2 is as fast as level 1 and
// never larger here. igzip matches greedily: on a photograph's filtered
// rows, which are mostly small differences, the short matches it finds far
// back cost more than the bytes they replace, and with the full 32 KiB
// window its files came out up to 11 % larger than zlib's at the library's
// settings. A window of 4 bytes still takes repeated pixels and runs of one
// value and leaves the rest to the Huffman codes; the work space's "small"
// size, room for 16 Ki symbols, renews those codes four times as often as
// the default, which a photographed page's mix of paper and print needs.
constexpr std::uint32_t kLevel = 2;
constexpr std::uint16_t kHistoryBits = 2;
constexpr std::uint32_t kLevelBufferSize = ISAL_DEF_LVL2_SMALL;
constexpr unsigned char kSubFilter = 1;

constexpr unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// A zlib stream's header for a 32 KiB window, igzip's default, at the
// fastest level.
constexpr unsigned char kZlibHeader[] = {0x78, 0x01};
constexpr std::size_t kAdlerSize = 4;
constexpr unsigned char kIdat[] = {'I', 'D', 'A', 'T'};

// The filtered bytes that pngRunRows puts in a run.
constexpr std::size_t kRunBytes = std::size_t{1} << 20;
// Keeps each run's sizes within the deflate's 32-bit counts and a chunk's
// length, whatever the rows per run asked for.
constexpr std::size_t kMaxRunBytes = std::size_t{512} << 20;
constexpr int kMaxWidth = 1 << 24;

// A run of rows and, once deflated, its bytes.
struct Run {
    int firstRow = 0;
    int rows = 0;
    // The deflated rows; the first run's begin with the zlib header, and the
    // last run's have room for the Adler-32 after them.
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size = 0;
    std::uint32_t adler = 1;  // of the filtered rows
    uLong crc = 0;            // of "IDAT" and `bytes`
    bool done = false;
};

// What one thread deflates with, made on its first run and kept for the
// next.
struct Workspace {
    std::unique_ptr<isal_zstream> stream;
    std::unique_ptr<unsigned char[]> levelBuffer;
    std::unique_ptr<unsigned char[]> rows;  // the run's rows, filtered
};

// What the threads of one writePng share.
struct Encoding {
    const cv::Mat& image;
    std::vector<Run> runs{};
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

std::size_t filteredRowSize(int width)
{
    return 1 + 3 * static_cast<std::size_t>(width);
}

const char* deflateFailure(int code)
{
    switch (code) {
    case ISAL_INVALID_LEVEL:
        return "the deflate refused its level";
    case ISAL_INVALID_LEVEL_BUF:
        return "the deflate's work space is too small for its level";
    case INVALID_FLUSH:
        return "the deflate refused its flush";
    default:
        return "the deflate failed";
    }
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

// Makes what `workspace` lacks for runs of up to `rowBytes` filtered bytes.
// Returns false when memory ran out.
bool prepare(Workspace& workspace, std::size_t rowBytes)
{
    if (!workspace.stream) {
        workspace.stream.reset(new (std::nothrow) isal_zstream);
        workspace.levelBuffer.reset(new (std::nothrow) unsigned char[kLevelBufferSize]);
        workspace.rows.reset(new (std::nothrow) unsigned char[rowBytes]);
    }
    return workspace.stream && workspace.levelBuffer && workspace.rows;
}

// Moves the `used` bytes of `bytes` into a buffer twice as large and points
// `stream`'s output past them. Returns false when memory ran out.
bool growOutput(std::unique_ptr<unsigned char[]>& bytes, std::size_t& room, std::size_t used, isal_zstream& stream)
{
    std::unique_ptr<unsigned char[]> larger(new (std::nothrow) unsigned char[2 * room]);
    if (!larger) {
        return false;
    }
    std::memcpy(larger.get(), bytes.get(), used);
    bytes = std::move(larger);
    stream.next_out = bytes.get() + used;
    stream.avail_out = static_cast<std::uint32_t>(2 * room - used);
    room *= 2;
    return true;
}

// Deflates the `size` filtered bytes in `workspace` into `run`'s bytes, after
// `headerSize` bytes already there, as a piece of a raw deflate stream:
// ended by a sync flush, or, for the last run, as the stream's end. The
// output starts with room for all the input and a little more, which the
// deflated rows nearly always fit, and doubles when they do not. Returns
// nullptr, or why it failed.
const char* deflateRows(Workspace& workspace, std::size_t size, Run& run, std::size_t headerSize, bool last)
{
    // The last 4 bytes stay free for the stream's Adler-32.
    std::size_t room = headerSize + size + size / 1024 + 1024 + kAdlerSize;
    std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[room]);
    if (!bytes) {
        return kOutOfMemory;
    }
    std::memcpy(bytes.get(), kZlibHeader, headerSize);
    isal_zstream& stream = *workspace.stream;
    isal_deflate_init(&stream);
    stream.level = kLevel;
    stream.level_buf = workspace.levelBuffer.get();
    stream.level_buf_size = kLevelBufferSize;
    stream.hist_bits = kHistoryBits;
    stream.gzip_flag = IGZIP_DEFLATE;
    stream.flush = last ? NO_FLUSH : SYNC_FLUSH;
    stream.end_of_stream = last ? 1 : 0;
    stream.next_in = workspace.rows.get();
    stream.avail_in = static_cast<std::uint32_t>(size);
    stream.next_out = bytes.get() + headerSize;
    stream.avail_out = static_cast<std::uint32_t>(room - headerSize - kAdlerSize);
    for (;;) {
        const int code = isal_deflate(&stream);
        if (code != COMP_OK) {
            return deflateFailure(code);
        }
        const std::size_t used = static_cast<std::size_t>(stream.next_out - bytes.get());
        const isal_zstate_state finish = last ? ZSTATE_END : ZSTATE_NEW_HDR;
        if (stream.avail_in == 0 && stream.internal_state.state == finish) {
            run.size = used;
            break;
        }
        if (stream.avail_out != 0) {
            return kDeflateStopped;
        }
        if (!growOutput(bytes, room, used, stream)) {
            return kOutOfMemory;
        }
        stream.avail_out -= kAdlerSize;
    }
    run.bytes = std::move(bytes);
    return nullptr;
}

// Filters and deflates the rows of `run`, and takes their checksum and the
// CRC of its chunk's type and data. Returns nullptr, or why it failed.
const char* deflateRun(const cv::Mat& image, Workspace& workspace, std::size_t runBytes, Run& run, bool first,
                       bool last)
{
    if (!prepare(workspace, runBytes)) {
        return kOutOfMemory;
    }
    const std::size_t rowSize = filteredRowSize(image.cols);
    for (int k = 0; k < run.rows; ++k) {
        filterRow(image, run.firstRow + k, workspace.rows.get() + rowSize * static_cast<std::size_t>(k));
    }
    const std::size_t size = rowSize * static_cast<std::size_t>(run.rows);
    run.adler = isal_adler32(1, workspace.rows.get(), size);
    const char* failure = deflateRows(workspace, size, run, first ? sizeof kZlibHeader : 0, last);
    if (failure == nullptr) {
        run.crc = crc32_z(crc32(0, kIdat, sizeof kIdat), run.bytes.get(), run.size);
    }
    return failure;
}

// Takes the next run that no thread has taken and deflates it. Returns
// false when none was left, the encoding has stopped or the run failed.
bool deflateNext(Encoding& encoding, Workspace& workspace)
{
    const int count = static_cast<int>(encoding.runs.size());
    const int index = encoding.stopped ? count : encoding.next++;
    if (index >= count) {
        return false;
    }
    Run& run = encoding.runs[static_cast<std::size_t>(index)];
    const std::size_t runBytes = filteredRowSize(encoding.image.cols) * static_cast<std::size_t>(encoding.runs[0].rows);
    const char* failure = deflateRun(encoding.image, workspace, runBytes, run, index == 0, index == count - 1);
    {
        const std::lock_guard<std::mutex> lock(encoding.mutex);
        run.done = failure == nullptr;
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
    Workspace workspace;
    while (deflateNext(encoding, workspace)) {
    }
}

// Waits until run `index` is deflated, deflating runs itself while any are
// left. Returns false when the encoding failed.
bool awaitRun(Encoding& encoding, std::size_t index, Workspace& workspace)
{
    const Run& run = encoding.runs[index];
    std::unique_lock<std::mutex> lock(encoding.mutex);
    while (!run.done && encoding.failure == nullptr) {
        lock.unlock();
        const bool deflated = deflateNext(encoding, workspace);
        lock.lock();
        if (!deflated) {
            encoding.changed.wait(lock, [&] { return run.done || encoding.failure != nullptr; });
        }
    }
    return encoding.failure == nullptr;
}

// Gives one chunk to `sink`: its length, type, data and the CRC of type and
// data, `crc`.
bool writeChunk(const ByteSink& sink, const char* type, const unsigned char* data, std::size_t size, uLong crc)
{
    unsigned char head[8];
    putBigEndian(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    unsigned char tail[4];
    putBigEndian(tail, static_cast<std::uint32_t>(crc));
    return sink(head, sizeof head) && (size == 0 || sink(data, size)) && sink(tail, sizeof tail);
}

bool writeChunk(const ByteSink& sink, const char* type, const unsigned char* data, std::size_t size)
{
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    return writeChunk(sink, type, data, size, size == 0 ? crc : crc32_z(crc, data, size));
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
    Workspace workspace;
    const std::size_t rowSize = filteredRowSize(encoding.image.cols);
    uLong adler = adler32(0, nullptr, 0);
    for (std::size_t index = 0; index < encoding.runs.size(); ++index) {
        if (!awaitRun(encoding, index, workspace)) {
            refused = false;
            return false;
        }
        Run& run = encoding.runs[index];
        adler = adler32_combine(adler, run.adler, static_cast<z_off_t>(rowSize * static_cast<std::size_t>(run.rows)));
        if (index + 1 == encoding.runs.size()) {
            putBigEndian(run.bytes.get() + run.size, static_cast<std::uint32_t>(adler));
            run.crc = crc32(run.crc, run.bytes.get() + run.size, kAdlerSize);
            run.size += kAdlerSize;
        }
        if (!writeChunk(sink, "IDAT", run.bytes.get(), run.size, run.crc)) {
            return false;
        }
        run.bytes.reset();
    }
    return writeChunk(sink, "IEND", nullptr, 0);
}

// Cuts the image's rows into runs of `runRows` rows from the top, fewer
// when a run would be too large for the deflate's counts; the last run
// takes what is left.
std::vector<Run> cutIntoRuns(const cv::Mat& image, int runRows)
{
    const std::size_t fitting = std::max<std::size_t>(kMaxRunBytes / filteredRowSize(image.cols), 1);
    const int rows = static_cast<int>(std::min({static_cast<std::size_t>(runRows), fitting,
                                                static_cast<std::size_t>(image.rows)}));
    std::vector<Run> runs(static_cast<std::size_t>((image.rows + rows - 1) / rows));
    for (std::size_t k = 0; k < runs.size(); ++k) {
        runs[k].firstRow = static_cast<int>(k) * rows;
        runs[k].rows = std::min(rows, image.rows - runs[k].firstRow);
    }
    return runs;
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

int pngRunRows(int width)
{
    const std::size_t rows = kRunBytes / filteredRowSize(std::max(width, 1));
    return static_cast<int>(std::max<std::size_t>(rows, 1));
}

PngWrite writePng(const cv::Mat& image, int runRows, int threads, const ByteSink& sink)
{
    if (image.type() != CV_8UC3 || image.empty() || image.cols > kMaxWidth) {
        return {PngWrite::failed, kUnsupportedImage};
    }
    if (runRows < 1 || threads < 1) {
        return {PngWrite::failed, kBadCounts};
    }
    Encoding encoding{image};
    std::vector<std::thread> workers;
    try {
        encoding.runs = cutIntoRuns(image, runRows);
    } catch (const std::bad_alloc&) {
        return {PngWrite::failed, kOutOfMemory};
    }
    // The calling thread deflates too, while it waits for the next run.
    startWorkers(encoding, std::min(threads, static_cast<int>(encoding.runs.size())) - 1, workers);
    bool refused = false;
    const bool written = writeFile(encoding, sink, refused);
    encoding.stopped = true;
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (written) {
        return {PngWrite::written, nullptr};
    }
    return refused ? PngWrite{PngWrite::refused, nullptr} : PngWrite{PngWrite::failed, encoding.failure};
}
