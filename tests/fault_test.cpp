// lumaLeveller as a process against hostile inputs and faults: files that
// are not images or only pretend to be, named pipes, exhausted memory and
// threads, a file-size limit, interruptions and concurrent runs. None of
// them may end in a crash, a half-written result or a temporary file left
// behind.
#include "driver_fixture.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A valid PNG of one flat grey, deflated row by row at the fastest level:
// a 16000 x 16000 image takes about a second and 3 MB.
std::string flatPng(std::uint32_t width, std::uint32_t height)
{
    std::string row(1 + 3 * std::size_t{width}, '\x80');
    row[0] = 0;  // no filter
    z_stream stream{};
    deflateInit(&stream, Z_BEST_SPEED);
    std::string data;
    std::vector<unsigned char> buffer(1 << 20);
    for (std::uint32_t y = 0; y < height; ++y) {
        stream.next_in = reinterpret_cast<Bytef*>(row.data());
        stream.avail_in = static_cast<uInt>(row.size());
        do {
            stream.next_out = buffer.data();
            stream.avail_out = static_cast<uInt>(buffer.size());
            deflate(&stream, y + 1 == height ? Z_FINISH : Z_NO_FLUSH);
            data.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return pngFile(width, height, data);
}

std::string progressiveJpeg(int width, int height)
{
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", cv::Mat(height, width, CV_8UC3, cv::Scalar(40, 120, 200)), jpeg,
                 {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
    return std::string(jpeg.begin(), jpeg.end());
}

// A DICOM file of `levels` sequences nested in one another, each in an item
// of the one around it, all of undefined length and closed by delimiters.
std::string nestedDicom(int levels)
{
    const std::string sequenceAndItem("\x08\x00\x40\x11SQ\0\0\xff\xff\xff\xff\xfe\xff\x00\xe0\xff\xff\xff\xff", 20);
    const std::string delimiters("\xfe\xff\x0d\xe0\0\0\0\0\xfe\xff\xdd\xe0\0\0\0\0", 16);
    std::string file = std::string(128, '\0') + "DICM";
    for (int level = 0; level < 2 * levels; ++level)
        file += level < levels ? sequenceAndItem : delimiters;
    return file;
}

std::string randomBytes(int count)
{
    cv::Mat bytes(1, count, CV_8U);
    cv::RNG(7).fill(bytes, cv::RNG::UNIFORM, 0, 256);
    return std::string(bytes.begin<char>(), bytes.end<char>());
}

// `launch` with the library's temporary files in `where`, made here.
Launch withLibraryTemporaries(Launch launch, const fs::path& where)
{
    fs::create_directories(where);
    launch.environment.push_back("OPENCV_TEMP_PATH=" + where.string());
    return launch;
}

TEST_F(Driver, HostileInputsEndWithTheReadErrorAndNoPause)
{
    const std::string garbage = "garbage that no decoder takes for pixels\n";
    const std::string png = readFile(photo("page.png"));
    makeFile(folder / "empty.png", "");
    makeFile(folder / "notes.txt", "not an image\n");
    makeFile(folder / "noise.bin", randomBytes(4096));
    makeFile(folder / "signature.png", "\x89PNG\r\n\x1a\n" + garbage);
    makeFile(folder / "half.png", png.substr(0, png.size() / 2));
    const std::string jfifHeader("\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
    makeFile(folder / "header.jpg", jfifHeader + garbage);
    makeFile(folder / "huge.png", pngFile(65535, 65535, garbage));
    // A signature, then more bytes than the in-memory decoder takes (sparse,
    // so quick to make).
    makeFile(folder / "oversized.png", "\x89PNG\r\n\x1a\n");
    fs::resize_file(folder / "oversized.png", std::uintmax_t{3} << 30);
    // A DICOM preamble and signature with nothing after them: the decoder
    // aborts on it. Nested deep enough, it overflows the stack.
    makeFile(folder / "truncated.dcm", std::string(128, '\0') + "DICM");
    makeFile(folder / "nested.dcm", nestedDicom(50000));
    fs::create_directory(folder / "folder.png");
    std::string tooLong;
    while (tooLong.size() <= PATH_MAX)
        tooLong += "./";
    const std::string inputs[] = {
        "", "missing.png", "empty.png", "notes.txt", "noise.bin", "signature.png", "half.png", "header.jpg",
        "huge.png", "oversized.png", "truncated.dcm", "nested.dcm", "folder.png", "/dev/null",
        tooLong + "page.png",                    // a good image behind a path longer than the system takes
        std::string(NAME_MAX + 1, 'a') + ".png", // a name longer than the system takes
    };
    // A file read by name leaves no temporary file (the library decodes
    // DICOM from one when it decodes from memory).
    const fs::path temporaryFolder = folder / "temporary";
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input.substr(0, 40));
        Child child = start(withLibraryTemporaries(launch({input}), temporaryFolder));
        EXPECT_TRUE(endsWithin(child, kStepDeadline)) << "no pause on this path";
        const ProcessResult outcome = finish(child);
        EXPECT_EQ(outcome.signal, 0);
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.output, kReadError);
        EXPECT_FALSE(fs::exists(folder / result));
        EXPECT_EQ(entries(temporaryFolder), std::set<std::string>{});
    }
}

// A photograph-like image: a lit gradient with shapes, and blurred noise as
// texture, so that every block of a JPEG holds detail.
cv::Mat photographLike()
{
    cv::Mat image(240, 320, CV_8UC3);
    for (int y = 0; y < image.rows; ++y)
        image.row(y).setTo(cv::Scalar(200 - y / 3, 190 - y / 2, 180 - y / 2));
    cv::rectangle(image, cv::Rect(40, 60, 70, 120), cv::Scalar(60, 40, 30), cv::FILLED);
    cv::circle(image, {220, 110}, 50, cv::Scalar(40, 90, 200), cv::FILLED);
    cv::Mat noise(image.size(), CV_8UC3);
    cv::RNG(11).fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(noise, noise, {0, 0}, 1.5);
    cv::addWeighted(image, 0.7, noise, 0.3, 0, image);
    return image;
}

TEST_F(Driver, AJpegCutShortIsReadAsTheLibrarysFileReaderReadsIt)
{
    const cv::Mat photograph = photographLike();
    for (const int progressive : {0, 1}) {
        std::vector<uchar> jpeg;
        ASSERT_TRUE(cv::imencode(".jpg", photograph, jpeg, {cv::IMWRITE_JPEG_PROGRESSIVE, progressive}));
        // One cut inside the header, the others through the scan data.
        for (const std::size_t cut : {std::size_t{200}, jpeg.size() / 4, jpeg.size() / 2, jpeg.size() * 9 / 10}) {
            const std::string name = (progressive ? "progressive-" : "baseline-") + std::to_string(cut) + ".jpg";
            SCOPED_TRACE(name);
            makeFile(folder / name, std::string(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(cut)));
            const bool readable = !cv::imread((folder / name).string(), cv::IMREAD_COLOR).empty();
            ASSERT_EQ(readable, cut != 200) << "the library's file reader gives what arrived after the header";
            const ProcessResult outcome = run(launch({name}));
            EXPECT_EQ(outcome.exitStatus, readable ? 3 : 1);
            EXPECT_EQ(outcome.output, readable ? kShowError : kReadError);
            if (readable)
                EXPECT_TRUE(samePixels(resultImage(), expectedResult(folder / name)));
            else
                EXPECT_FALSE(fs::exists(folder / result));
            fs::remove(folder / result);
        }
    }
}

TEST_F(Driver, ADeviceIsRefusedWithoutBeingRead)
{
    for (const std::string device : {"/dev/zero", "/dev/urandom"}) {
        SCOPED_TRACE(device);
        Launch limited = launch({device});
#ifndef LUMALEVELLER_SANITIZE
        // Read to its end, the device would fill this space: "out of memory".
        limited.addressSpaceLimit = std::uint64_t{1} << 30;
#endif
        const ProcessResult outcome = run(limited);
        EXPECT_TRUE(outcome.finished);
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.output, kReadError);
    }
}

TEST_F(Driver, APathWithSpacesAndNonAsciiCharactersIsRead)
{
    const std::string name = "relev\xc3\xa9s d'\xc3\xa9t\xc3\xa9/page \xe6\x89\xab\xe6\x8f\x8f 1.png";
    const fs::path input = photo(name);
    const ProcessResult outcome = run(launch({name}));
    EXPECT_EQ(outcome.exitStatus, 3);
    EXPECT_EQ(outcome.output, kShowError);
    EXPECT_TRUE(samePixels(resultImage(), expectedResult(input)));
}

// Opens the named pipe `path` for writing once a reader has opened it,
// writes `bytes` and closes it; false when no reader came within `timeout`.
bool feedPipe(const fs::path& path, const std::string& bytes, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int pipe = -1;
    while ((pipe = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == ENXIO &&
           std::chrono::steady_clock::now() < deadline)
        ::usleep(10000);
    // Blocking from here on, so that the reader takes more than the pipe holds.
    const bool written = pipe >= 0 && ::fcntl(pipe, F_SETFL, 0) == 0 &&
                         ::write(pipe, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    ::close(pipe);
    return written;
}

TEST_F(Driver, ANamedPipeIsReadOnceItsWriterIsDone)
{
    const std::string png = readFile(photo("page.png"));
    const cv::Mat expected = expectedResult(folder / "page.png");
    // The DICOM decoder aborts on a bare signature; from memory it decodes
    // through a temporary file, which must not stay behind.
    const std::pair<std::string, int> writes[] = {
        {png, 3}, {"garbage\n", 1}, {"", 1}, {std::string(128, '\0') + "DICM", 1}};
    const fs::path temporaryFolder = folder / "temporary";
    for (const auto& [bytes, exitStatus] : writes) {
        SCOPED_TRACE(bytes.size());
        ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
        Child child = start(withLibraryTemporaries(launch({"pipe"}), temporaryFolder));
        EXPECT_TRUE(feedPipe(folder / "pipe", bytes, kStepDeadline)) << "the pipe was not opened for reading";
        EXPECT_TRUE(endsWithin(child, kStepDeadline)) << "waits after the writer is done";
        const ProcessResult outcome = finish(child, 1s);
        EXPECT_EQ(outcome.exitStatus, exitStatus);
        EXPECT_EQ(outcome.output, exitStatus == 3 ? kShowError : kReadError);
        EXPECT_EQ(samePixels(resultImage(), expected), exitStatus == 3);
        EXPECT_EQ(entries(temporaryFolder), std::set<std::string>{});
        fs::remove(folder / "pipe");
        fs::remove(folder / result);
    }
}

TEST_F(Driver, APipeLargerThanMemoryIsReportedAndLeavesNoTemporaryFolder)
{
#ifdef LUMALEVELLER_SANITIZE
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit in a limited address space";
#endif
    const fs::path temporaryFolder = folder / "temporary";
    Launch limited = withLibraryTemporaries(launch({"/dev/stdin"}), temporaryFolder);
    limited.addressSpaceLimit = std::uint64_t{1} << 30;
    Child child = start(limited);
    // Fed until the program ends and its input breaks.
    const auto before = ::signal(SIGPIPE, SIG_IGN);
    const std::string block(1 << 20, '\0');
    while (::write(child.input, block.data(), block.size()) > 0) {
    }
    ::signal(SIGPIPE, before);
    const ProcessResult outcome = finish(child);
    EXPECT_EQ(outcome.exitStatus, 4);
    EXPECT_EQ(outcome.output, kProcessingError + texts::outOfMemoryReason + "\n\n");
    EXPECT_EQ(entries(temporaryFolder), std::set<std::string>{});
}

TEST_F(Driver, ExhaustedMemoryAndThreadsAreReportedNotCrashed)
{
#ifdef LUMALEVELLER_SANITIZE
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit in a limited address space";
#endif
    struct Case {
        const char* name;
        std::string bytes;
        unsigned long long addressSpaceKiB;
        unsigned long processLimit;
    };
    const Case cases[] = {
        // The header claims 2.7 GB of pixels, more than the space holds:
        // the reader's own allocation fails.
        {"claims.png", pngFile(30000, 30000, "garbage"), 1u << 20, 0},
        // 768 MB of pixels are read; the filter's planes do not fit. With
        // this build that happens between about 1100000 and 1600000 KiB.
        {"large.png", flatPng(16000, 16000), 1350000, 0},
        // The pixels fit, the decoder's coefficient buffers do not: the
        // reader returns no image, as for a broken file. With this build
        // that happens between about 440000 and 660000 KiB; outside that
        // range the reader's or the filter's allocation fails instead,
        // which ends in status 4 as well.
        {"progressive.jpg", progressiveJpeg(8000, 8000), 550000, 0},
        // The filter's threads cannot start: the library raises a standard
        // exception, not one of its own.
        {"threads.png", readFile(photo("threads.png", {800, 600})), 0, 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        makeFile(folder / test.name, test.bytes);
        Launch limited = test.processLimit != 0 ? launchAsOtherUser({test.name}) : launch({test.name});
        limited.addressSpaceLimit = test.addressSpaceKiB * 1024;
        limited.processLimit = test.processLimit;
        const ProcessResult outcome = run(limited);
        EXPECT_EQ(outcome.signal, 0);
        EXPECT_EQ(outcome.exitStatus, 4);
        EXPECT_EQ(outcome.output.rfind(kProcessingError, 0), 0u) << outcome.output;
        EXPECT_GT(outcome.output.size(), kProcessingError.size() + 2) << "a reason follows";
        EXPECT_EQ(outcome.output.find('\n'), outcome.output.size() - 2) << "one line, then an empty one";
        EXPECT_FALSE(fs::exists(folder / result));
        fs::remove(folder / test.name);
    }
}

// Waits until a file whose name ends in ".tmp" is created in the folder
// that `watch` (an inotify descriptor) watches; false after `timeout`.
bool awaitTemporary(int watch, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd poller{watch, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&poller, 1, static_cast<int>(left.count())) <= 0)
            return false;
        const ssize_t got = ::read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            const std::string name = event->len > 0 ? event->name : "";
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
                return true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

TEST_F(Driver, AnInterruptedWriteKeepsTheEarlierResultWhole)
{
    // Noise makes a result of about 9 MB, whose write and flush to disk
    // take milliseconds. The signal goes out as the temporary file appears;
    // a busy machine may delay it past the rename, so each signal is tried
    // until one run has been interrupted during its write.
    cv::Mat noise(1500, 2000, CV_8UC3);
    cv::randu(noise, 0, 256);
    cv::imwrite((folder / "noise.png").string(), noise);
    const cv::Mat expected = expectedResult(folder / "noise.png");
    for (const int signalNumber : {SIGTERM, SIGINT, SIGQUIT, SIGKILL}) {
        SCOPED_TRACE(strsignal(signalNumber));
        bool interruptedWhileWriting = false;
        for (int attempt = 0; attempt < 20 && !interruptedWhileWriting; ++attempt) {
            makeFile(folder / result, "earlier result");
            const int watch = ::inotify_init1(IN_CLOEXEC);
            ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_CREATE), 0);
            Child child = start(launch({"noise.png"}));
            EXPECT_TRUE(awaitTemporary(watch, 60s)) << "the write never began";
            ::kill(child.pid, signalNumber);
            ::close(watch);  // slow: after the signal
            const ProcessResult outcome = finish(child);
            EXPECT_TRUE(outcome.signal == signalNumber || outcome.exitStatus == 3) << "killed, or done before";

            const std::string now = readFile(folder / result);
            EXPECT_TRUE(now == "earlier result" || samePixels(resultImage(), expected))
                << "the result is whole, old or new";
            interruptedWhileWriting = outcome.signal == signalNumber && now == "earlier result";
            std::set<std::string> left = entries(folder);
            left.erase("noise.png");
            left.erase(texts::outputName);
            if (signalNumber != SIGKILL) {
                EXPECT_EQ(left, std::set<std::string>{}) << "the temporary file is removed";
            } else {
                // Nothing can clean up after SIGKILL; what stays is hidden
                // and plainly temporary.
                EXPECT_LE(left.size(), 1u);
            }
            for (const std::string& stale : left) {
                EXPECT_EQ(stale.rfind("." + result.string() + ".", 0), 0u) << stale;
                EXPECT_EQ(stale.substr(stale.size() - 4), ".tmp") << stale;
                fs::remove(folder / stale);
            }
        }
        EXPECT_TRUE(interruptedWhileWriting) << "no run was interrupted during its write";
    }
}

// Waits until a file appears anywhere below `where`; false after `timeout`.
bool awaitFileBelow(const fs::path& where, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        std::error_code ignored;  // entries may go while they are listed
        for (fs::recursive_directory_iterator entry(where, ignored), end; entry != end; entry.increment(ignored))
            if (entry->is_regular_file(ignored))
                return true;
        ::usleep(1000);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

TEST_F(Driver, AnInterruptedDecodingLeavesNoTemporaryFile)
{
    // From memory (a pipe), the library decodes Radiance HDR through a
    // temporary file; a large flat image comes from a small file and takes
    // about a second to decode.
    const cv::Mat flat(3000, 4000, CV_32FC3, cv::Scalar(0.2, 0.5, 0.8));
    ASSERT_TRUE(cv::imwrite((folder / "flat.hdr").string(), flat));
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    const fs::path temporaryFolder = folder / "temporary";
    Child child = start(withLibraryTemporaries(launch({"pipe"}), temporaryFolder));
    EXPECT_TRUE(feedPipe(folder / "pipe", readFile(folder / "flat.hdr"), kStepDeadline));
    EXPECT_TRUE(awaitFileBelow(temporaryFolder, kStepDeadline)) << "the decoding never began";
    ::kill(child.pid, SIGINT);
    const ProcessResult outcome = finish(child);
    EXPECT_EQ(outcome.signal, SIGINT) << "killed by it";
    EXPECT_EQ(entries(temporaryFolder), std::set<std::string>{});
}

TEST_F(Driver, ConcurrentRunsInOneFolderLeaveTheWholeResultOfOne)
{
    std::vector<cv::Mat> expected;
    std::set<std::string> inputs{texts::outputName};
    std::vector<Child> children;
    for (int i = 0; i < 4; ++i) {
        cv::Mat noise(600 + 40 * i, 800, CV_8UC3);
        cv::randu(noise, 0, 256);
        const std::string name = "noise" + std::to_string(i) + ".png";
        cv::imwrite((folder / name).string(), noise);
        expected.push_back(expectedResult(folder / name));
        inputs.insert(name);
    }
    for (int i = 0; i < 4; ++i)
        children.push_back(start(launch({"noise" + std::to_string(i) + ".png"})));
    for (Child& child : children) {
        const ProcessResult outcome = finish(child);
        EXPECT_EQ(outcome.exitStatus, 3);
        EXPECT_EQ(outcome.output, kShowError);
    }
    const cv::Mat now = resultImage();
    EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [&](const cv::Mat& one) { return samePixels(now, one); }))
        << "not one run's whole result";
    EXPECT_EQ(entries(folder), inputs) << "no temporary file left";
}

} // namespace
