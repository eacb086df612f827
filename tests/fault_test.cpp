// lumaLeveller as a process against hostile inputs and faults: files that
// are not images or only pretend to be, exhausted memory, a file-size limit,
// interruptions and concurrent runs. None of them may end in a crash, a
// half-written result or a temporary file left behind.
#include "driver_fixture.h"

#include <opencv2/imgcodecs.hpp>
#include <zlib.h>

#include <climits>

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

std::string randomBytes(int count)
{
    cv::Mat bytes(1, count, CV_8U);
    cv::RNG(7).fill(bytes, cv::RNG::UNIFORM, 0, 256);
    return std::string(bytes.begin<char>(), bytes.end<char>());
}

TEST_F(Driver, HostileInputsEndWithTheReadErrorAndNoPause)
{
    const std::string garbage = "garbage that no decoder takes for pixels\n";
    const std::string png = readFile(photo("page.png"));
    writeFile(folder / "empty.png", "");
    writeFile(folder / "notes.txt", "not an image\n");
    writeFile(folder / "noise.bin", randomBytes(4096));
    writeFile(folder / "signature.png", "\x89PNG\r\n\x1a\n" + garbage);
    writeFile(folder / "half.png", png.substr(0, png.size() / 2));
    const std::string jfifHeader("\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
    writeFile(folder / "header.jpg", jfifHeader + garbage);
    writeFile(folder / "huge.png", pngFile(65535, 65535, garbage));
    fs::create_directory(folder / "folder.png");
    std::string tooLong;
    while (tooLong.size() <= PATH_MAX)
        tooLong += "./";
    const std::string inputs[] = {
        "", "missing.png", "empty.png", "notes.txt", "noise.bin", "signature.png", "half.png", "header.jpg",
        "huge.png", "folder.png", "/dev/null",
        tooLong + "page.png",                    // a good image behind a path longer than the system takes
        std::string(NAME_MAX + 1, 'a') + ".png", // a name longer than the system takes
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input.substr(0, 40));
        Child child = start(launch({input}));
        EXPECT_TRUE(endsWithin(child, 5000ms)) << "no pause on this path";
        const Outcome outcome = finish(child);
        EXPECT_EQ(outcome.signal, 0);
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.output, kReadError);
        EXPECT_FALSE(fs::exists(folder / result));
    }
}

TEST_F(Driver, APathWithSpacesAndNonAsciiCharactersIsRead)
{
    const std::string name = "relev\xc3\xa9s d'\xc3\xa9t\xc3\xa9/page \xe6\x89\xab\xe6\x8f\x8f 1.png";
    const fs::path input = photo(name);
    const Outcome outcome = run(launch({name}));
    EXPECT_EQ(outcome.exitStatus, 3);
    EXPECT_EQ(outcome.output, kShowError);
    EXPECT_EQ(readFile(folder / result), expectedResult(input));
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
