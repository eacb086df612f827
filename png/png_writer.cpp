#include "png_writer.h"

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
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
constexpr const char* kBadProfile = "the PNG writer takes a profile of 1 byte to 1 GiB named by 1 to 79 Latin-1 "
                                    "characters";
constexpr const char* kProfileDeflateFailed = "the profile's deflate failed";

// igzip's level, window and work space: those that made the smallest files
// in the least time of the settings tried on bench/compare's images (README,
// Performance, has the figures). igzip matches greedily: on a photograph's
// filtered rows, which are mostly small differences, the short matches it
// finds far back cost more than the bytes they replace, so the window is
// 4 bytes, which still reaches the pixel to the left. The work space's
// "small" size, room for 16 Ki symbols, renews the Huffman codes more often
// than the default, which suits a page's mix of paper and print.
constexpr std::uint32_t kLevel = 1;
constexpr std::uint16_t kHistoryBits = 2;
constexpr std::uint32_t kLevelBufferSize = ISAL_DEF_LVL1_SMALL;

// The PNG filters the rows choose from, by their numbers in the file.
constexpr unsigned char kSubFilter = 1;
constexpr unsigned char kPaethFilter = 4;
// The bytes of one pixel, and so how far back the pixel to the left is.
constexpr std::size_t kPixelBytes = 3;

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
    // Two rows of pixels in red-green-blue order, each after a pixel of
    // zeros, as the filters read them (see PixelRows), and room for one
    // more row, filtered.
    std::unique_ptr<unsigned char[]> pixels;
};

// The row being filtered and the one above it, each in red-green-blue
// order with a pixel of zeros before its first byte: the pixel left of the
// first, as PNG's filters take it. Above the image's first row is a row of
// zeros.
struct PixelRows {
    unsigned char* above;
    unsigned char* row;
};

// How the threads share the work. The runs deflate independently of each
// other: `threads` threads take them in order, each the next that no
// thread has taken, and filter and deflate it with the workspace they keep
// from run to run. The calling thread gives the deflated runs to the sink
// in order, waiting for the next when it is not done yet (deflating it
// itself when no thread took it, which happens only when none could be
// started), and frees each run's bytes as soon as the sink took them. One
// mutex guards the counts of runs taken and written and whether each run
// is done; a thread holds it only to read or change them, never while it
// deflates or the sink writes, and waits on one condition variable until
// they change.
//
// Why the bound: deflated runs wait for nothing but the sink, so with a
// slow sink (a network share, a USB stick) threads that went on taking
// runs would hold the whole image's in memory. A thread takes a run only
// while fewer than kRunsPerThread x `threads` runs are taken and not yet
// written, about 1 MiB of rows each: that much waits at most, however slow
// the sink. With one run per thread, a thread that finished early would
// wait for room until the slowest of the others had finished and been
// written; with two it deflates another run meanwhile.
constexpr std::size_t kRunsPerThread = 2;

// What the threads of one writePng share.
struct Encoding {
    const cv::Mat& image;
    std::vector<Run>& runs;
    std::size_t room;  // the runs taken and not written, at most
    std::mutex mutex{};  // guards what follows and the runs' `done`
    std::condition_variable changed{};
    std::size_t taken = 0;    // the runs that a thread took
    std::size_t written = 0;  // the runs given to the sink
    const char* failure = nullptr;  // of the first run that failed
    bool stopped = false;  // when the writing ended or a run failed
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

// Copies row `y` of `image` to `out` in red-green-blue order.
void copyPixels(const cv::Mat& image, int y, unsigned char* out)
{
    const unsigned char* bgr = image.ptr<unsigned char>(y);
    const std::size_t bytes = kPixelBytes * static_cast<std::size_t>(image.cols);
    for (std::size_t i = 0; i < bytes; i += kPixelBytes) {
        out[i] = bgr[i + 2];
        out[i + 1] = bgr[i + 1];
        out[i + 2] = bgr[i];
    }
}

// The filters below are plain loops over bytes, with no branch that the
// compiler cannot turn into a select, so that it vectorises them (Paeth on
// 16-bit lanes). Each adds up the magnitudes of its results in 16 bits
// over blocks of kSumBlock bytes, which fill twice as many vector lanes as
// 32-bit sums and four times as many as 64-bit ones (README, Performance,
// has what that saves).
constexpr std::size_t kSumBlock = 256;  // 256 magnitudes of at most 128 fit 16 bits

// The magnitude of `filtered` read as a signed byte.
unsigned char magnitude(unsigned char filtered)
{
    return std::min(filtered, static_cast<unsigned char>(-filtered));
}

// Writes bytes `begin` to `end` of `rows.row` to `out` with the SUB filter:
// each less the byte one pixel to the left. Returns the sum of the
// results' magnitudes.
std::uint16_t subBlock(const PixelRows& rows, std::size_t begin, std::size_t end, unsigned char* __restrict out)
{
    const unsigned char* __restrict row = rows.row;
    const unsigned char* __restrict left = rows.row - kPixelBytes;
    std::uint16_t sum = 0;
    for (std::size_t i = begin; i < end; ++i) {
        out[i] = static_cast<unsigned char>(row[i] - left[i]);
        sum = static_cast<std::uint16_t>(sum + magnitude(out[i]));
    }
    return sum;
}

// As subBlock, with the Paeth filter: each byte less whichever of the
// bytes to the left, above and above-left is nearest to left + above -
// above-left, the first of them on a tie.
std::uint16_t paethBlock(const PixelRows& rows, std::size_t begin, std::size_t end, unsigned char* __restrict out)
{
    const unsigned char* __restrict row = rows.row;
    const unsigned char* __restrict rowLeft = rows.row - kPixelBytes;
    const unsigned char* __restrict above = rows.above;
    const unsigned char* __restrict aboveLeft = rows.above - kPixelBytes;
    std::uint16_t sum = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const std::int16_t left = rowLeft[i];
        const std::int16_t up = above[i];
        const std::int16_t corner = aboveLeft[i];
        // The distances of the estimate left + up - corner from each.
        const std::int16_t fromLeft = static_cast<std::int16_t>(std::abs(up - corner));
        const std::int16_t fromUp = static_cast<std::int16_t>(std::abs(left - corner));
        const std::int16_t fromCorner = static_cast<std::int16_t>(std::abs(left + up - 2 * corner));
        const std::int16_t predicted =
            fromLeft <= fromUp && fromLeft <= fromCorner ? left : fromUp <= fromCorner ? up : corner;
        out[i] = static_cast<unsigned char>(row[i] - predicted);
        sum = static_cast<std::uint16_t>(sum + magnitude(out[i]));
    }
    return sum;
}

// Filters the `size` bytes of `rows.row` into `out` with `filter`, a block
// at a time. Returns the sum of the results' magnitudes.
std::uint64_t filterBytes(std::uint16_t (*filter)(const PixelRows&, std::size_t, std::size_t, unsigned char*),
                          const PixelRows& rows, std::size_t size, unsigned char* out)
{
    std::uint64_t sum = 0;
    for (std::size_t begin = 0; begin < size; begin += kSumBlock) {
        sum += filter(rows, begin, std::min(size, begin + kSumBlock), out);
    }
    return sum;
}

// Writes `rows.row` to `out` as PNG stores it: the filter's number, then
// the filtered bytes, with whichever of SUB and Paeth gives the smaller sum
// of magnitudes (SUB on a tie). `spare` has room for a row.
void filterRow(const PixelRows& rows, std::size_t size, unsigned char* spare, unsigned char* out)
{
    const std::uint64_t subSum = filterBytes(subBlock, rows, size, spare);
    if (filterBytes(paethBlock, rows, size, out + 1) < subSum) {
        out[0] = kPaethFilter;
    } else {
        out[0] = kSubFilter;
        std::memcpy(out + 1, spare, size);
    }
}

// Makes what `workspace` lacks for runs of up to `rowBytes` filtered bytes
// of rows of `pixelBytes` bytes of pixels. Returns false when memory ran
// out.
bool prepare(Workspace& workspace, std::size_t rowBytes, std::size_t pixelBytes)
{
    if (!workspace.stream) {
        workspace.stream.reset(new (std::nothrow) isal_zstream);
        workspace.levelBuffer.reset(new (std::nothrow) unsigned char[kLevelBufferSize]);
        workspace.rows.reset(new (std::nothrow) unsigned char[rowBytes]);
        workspace.pixels.reset(new (std::nothrow) unsigned char[3 * pixelBytes + 2 * kPixelBytes]);
    }
    return workspace.stream && workspace.levelBuffer && workspace.rows && workspace.pixels;
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

// Filters the rows of `run` into `workspace.rows`. Its first row is filtered
// against the image's row above it, as a decoder reads it, so that the
// filters chosen do not depend on where the runs are cut.
void filterRows(const cv::Mat& image, Workspace& workspace, const Run& run)
{
    const std::size_t size = filteredRowSize(image.cols) - 1;
    unsigned char* pixels = workspace.pixels.get();
    PixelRows rows{pixels + kPixelBytes, pixels + size + 2 * kPixelBytes};
    unsigned char* spare = rows.row + size;
    std::memset(rows.above - kPixelBytes, 0, kPixelBytes);
    std::memset(rows.row - kPixelBytes, 0, kPixelBytes);
    if (run.firstRow == 0) {
        std::memset(rows.above, 0, size);
    } else {
        copyPixels(image, run.firstRow - 1, rows.above);
    }
    for (int k = 0; k < run.rows; ++k) {
        copyPixels(image, run.firstRow + k, rows.row);
        filterRow(rows, size, spare, workspace.rows.get() + (size + 1) * static_cast<std::size_t>(k));
        std::swap(rows.above, rows.row);
    }
}

// Filters and deflates the rows of `run`, and takes their checksum and the
// CRC of its chunk's type and data. Returns nullptr, or why it failed.
const char* deflateRun(const cv::Mat& image, Workspace& workspace, std::size_t runBytes, Run& run, bool first,
                       bool last)
{
    const std::size_t rowSize = filteredRowSize(image.cols);
    if (!prepare(workspace, runBytes, rowSize - 1)) {
        return kOutOfMemory;
    }
    filterRows(image, workspace, run);
    const std::size_t size = rowSize * static_cast<std::size_t>(run.rows);
    run.adler = isal_adler32(1, workspace.rows.get(), size);
    const char* failure = deflateRows(workspace, size, run, first ? sizeof kZlibHeader : 0, last);
    if (failure == nullptr) {
        run.crc = crc32_z(crc32(0, kIdat, sizeof kIdat), run.bytes.get(), run.size);
    }
    return failure;
}

// Takes the next run of `encoding`, deflates it with `lock` released, then
// marks it done, or the encoding failed.
void deflateNext(Encoding& encoding, Workspace& workspace, std::unique_lock<std::mutex>& lock)
{
    const std::size_t index = encoding.taken++;
    Run& run = encoding.runs[index];
    const std::size_t runBytes = filteredRowSize(encoding.image.cols) * static_cast<std::size_t>(encoding.runs[0].rows);
    lock.unlock();
    const char* failure =
        deflateRun(encoding.image, workspace, runBytes, run, index == 0, index + 1 == encoding.runs.size());
    lock.lock();
    run.done = failure == nullptr;
    if (failure != nullptr && encoding.failure == nullptr) {
        encoding.failure = failure;
        encoding.stopped = true;
    }
    encoding.changed.notify_all();
}

// A thread's work: deflates runs while there is room for them, until none
// is left or the encoding stopped.
void deflateRuns(Encoding& encoding)
{
    Workspace workspace;
    std::unique_lock<std::mutex> lock(encoding.mutex);
    for (;;) {
        encoding.changed.wait(lock, [&] {
            return encoding.stopped || encoding.taken == encoding.runs.size() ||
                   encoding.taken < encoding.written + encoding.room;
        });
        if (encoding.stopped || encoding.taken == encoding.runs.size()) {
            return;
        }
        deflateNext(encoding, workspace, lock);
    }
}

// Waits until run `index` is done; deflates it itself when no thread took
// it, which happens only when no thread could be started. Returns false
// when the encoding failed.
bool awaitRun(Encoding& encoding, std::size_t index, Workspace& workspace)
{
    std::unique_lock<std::mutex> lock(encoding.mutex);
    while (!encoding.runs[index].done && encoding.failure == nullptr) {
        if (encoding.taken == index) {
            deflateNext(encoding, workspace, lock);
        } else {
            encoding.changed.wait(lock);
        }
    }
    return encoding.failure == nullptr;
}

// Counts run `index` written, which makes room for another.
void markWritten(Encoding& encoding)
{
    const std::lock_guard<std::mutex> lock(encoding.mutex);
    ++encoding.written;
    encoding.changed.notify_all();
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

// Gives run `index` of `runs` to `sink` as an IDAT chunk, the stream's
// Adler-32, `adler` so far, after the last run's bytes; then frees its
// bytes. Returns whether `sink` took them.
bool writeRun(const ByteSink& sink, const cv::Mat& image, std::vector<Run>& runs, std::size_t index, uLong& adler)
{
    Run& run = runs[index];
    const std::size_t rowBytes = filteredRowSize(image.cols) * static_cast<std::size_t>(run.rows);
    adler = adler32_combine(adler, run.adler, static_cast<z_off_t>(rowBytes));
    if (index + 1 == runs.size()) {
        putBigEndian(run.bytes.get() + run.size, static_cast<std::uint32_t>(adler));
        run.crc = crc32(run.crc, run.bytes.get() + run.size, kAdlerSize);
        run.size += kAdlerSize;
    }
    const bool taken = writeChunk(sink, "IDAT", run.bytes.get(), run.size, run.crc);
    run.bytes.reset();
    return taken;
}

// Gives the whole file to `encoding`'s sink: the header, the iCCP chunk's
// `profile` data unless empty, each run as an IDAT chunk once it is done.
PngWrite streamFile(Encoding& encoding, const ByteSink& sink, const std::vector<unsigned char>& profile)
{
    if (!writeHeader(sink, encoding.image) ||
        (!profile.empty() && !writeChunk(sink, "iCCP", profile.data(), profile.size()))) {
        return {PngWrite::refused, nullptr};
    }
    Workspace workspace;
    uLong adler = adler32(0, nullptr, 0);
    for (std::size_t index = 0; index < encoding.runs.size(); ++index) {
        if (!awaitRun(encoding, index, workspace)) {
            return {PngWrite::failed, encoding.failure};
        }
        if (!writeRun(sink, encoding.image, encoding.runs, index, adler)) {
            return {PngWrite::refused, nullptr};
        }
        markWritten(encoding);
    }
    if (!writeChunk(sink, "IEND", nullptr, 0)) {
        return {PngWrite::refused, nullptr};
    }
    return {PngWrite::written, nullptr};
}

// Whether `name` is a PNG keyword, as an iCCP chunk's profile name must be:
// 1 to 79 Latin-1 characters, printable, no space at either end nor two in
// a row.
bool isKeyword(const char* name)
{
    constexpr std::size_t kMaxKeyword = 79;
    const std::size_t length = name != nullptr ? std::strlen(name) : 0;
    if (length < 1 || length > kMaxKeyword || name[0] == ' ' || name[length - 1] == ' ') {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const auto code = static_cast<unsigned char>(name[i]);
        if (code < 32 || (code > 126 && code < 161) || (code == ' ' && name[i + 1] == ' ')) {
            return false;
        }
    }
    return true;
}

// Makes `data` the iCCP chunk's data for `profile`: its name, a zero, the
// compression method (0, deflate) and its bytes as one zlib stream. zlib,
// not igzip: a profile is small beside the image and written once, and
// zlib's compress2 makes the whole stream in one call. Returns nullptr, or
// why it failed.
const char* profileChunk(const PngProfile& profile, std::vector<unsigned char>& data)
{
    constexpr std::size_t kMaxProfile = std::size_t{1} << 30;
    if (!isKeyword(profile.name) || profile.bytes == nullptr || profile.size < 1 || profile.size > kMaxProfile) {
        return kBadProfile;
    }
    const std::size_t nameSize = std::strlen(profile.name);
    uLongf deflated = compressBound(static_cast<uLong>(profile.size));
    try {
        data.resize(nameSize + 2 + deflated);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    std::memcpy(data.data(), profile.name, nameSize + 1);
    data[nameSize + 1] = 0;
    const int code = compress2(data.data() + nameSize + 2, &deflated, profile.bytes, static_cast<uLong>(profile.size),
                               Z_DEFAULT_COMPRESSION);
    if (code != Z_OK) {
        return code == Z_MEM_ERROR ? kOutOfMemory : kProfileDeflateFailed;
    }
    data.resize(nameSize + 2 + deflated);
    return nullptr;
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
void startWorkers(Encoding& encoding, std::size_t count, std::vector<std::thread>& workers)
{
    try {
        workers.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            workers.emplace_back(deflateRuns, std::ref(encoding));
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

PngWrite writePng(const cv::Mat& image, int runRows, int threads, const ByteSink& sink, const PngProfile* profile)
{
    if (image.type() != CV_8UC3 || image.empty() || image.cols > kMaxWidth) {
        return {PngWrite::failed, kUnsupportedImage};
    }
    if (runRows < 1 || threads < 1) {
        return {PngWrite::failed, kBadCounts};
    }
    std::vector<unsigned char> profileData;
    if (const char* failure = profile != nullptr ? profileChunk(*profile, profileData) : nullptr) {
        if (failure != kOutOfMemory) {
            return {PngWrite::failed, failure};
        }
        // A profile is never a reason for the write to fail: without the
        // memory to deflate it, the file goes without it.
        std::vector<unsigned char>().swap(profileData);
    }
    std::vector<Run> runs;
    try {
        runs = cutIntoRuns(image, runRows);
    } catch (const std::bad_alloc&) {
        return {PngWrite::failed, kOutOfMemory};
    }
    Encoding encoding{image, runs, kRunsPerThread * static_cast<std::size_t>(threads)};
    std::vector<std::thread> workers;
    startWorkers(encoding, std::min<std::size_t>(static_cast<std::size_t>(threads), runs.size()), workers);
    const PngWrite result = streamFile(encoding, sink, profileData);
    {
        const std::lock_guard<std::mutex> lock(encoding.mutex);
        encoding.stopped = true;
    }
    encoding.changed.notify_all();
    for (std::thread& worker : workers) {
        worker.join();
    }
    return result;
}
