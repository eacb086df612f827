// lumaLeveller as a process against hostile inputs and faults: files that
// are not images or only pretend to be, exhausted memory, a file-size limit,
// interruptions and concurrent runs. None of them may end in a crash, a
// half-written result or a temporary file left behind.
#include "driver_fixture.h"

#include <opencv2/imgcodecs.hpp>
#include <zlib.h>

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

TEST_F(Driver, ExhaustedMemoryIsReportedNotCrashed)
{
#ifdef LUMALEVELLER_SANITIZE
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit in a limited address space";
#endif
    struct Case {
        const char* name;
        std::string bytes;
        unsigned long long addressSpaceKiB;
    };
    const Case cases[] = {
        // The header claims 2.7 GB of pixels, more than the space holds:
        // the reader's own allocation fails.
        {"claims.png", pngFile(30000, 30000, "garbage"), 1u << 20},
        // 768 MB of pixels are read; the filter's planes do not fit.
        {"large.png", flatPng(16000, 16000), 3000000},
        // The pixels fit, the decoder's coefficient buffers do not: the
        // reader returns no image, as for a broken file.
        {"progressive.jpg", progressiveJpeg(8000, 8000), 510000},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        writeFile(folder / test.name, test.bytes);
        Launch limited = launch({test.name});
        limited.addressSpaceLimit = test.addressSpaceKiB * 1024;
        const Outcome outcome = run(limited);
        EXPECT_EQ(outcome.signal, 0);
        EXPECT_EQ(outcome.exitStatus, 4);
        EXPECT_EQ(outcome.output.rfind(kProcessingError, 0), 0u) << outcome.output;
        EXPECT_GT(outcome.output.size(), kProcessingError.size() + 2) << "a reason follows";
        EXPECT_EQ(outcome.output.substr(outcome.output.size() - 2), "\n\n");
        EXPECT_FALSE(fs::exists(folder / result));
        fs::remove(folder / test.name);
    }
}

} // namespace
