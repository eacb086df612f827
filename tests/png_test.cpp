// The PNG writer: OpenCV's decoder (cv::imdecode) gives back every pixel and
// the stream is well-formed however the rows are cut into runs; the bytes do
// not depend on the threads, and pngcheck accepts them; a refusing sink or a
// failed encoder ends the write.
#include "png_writer.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string encode(const cv::Mat& image, int runRows, int threads)
{
    std::string png;
    const PngWrite written = writePng(image, runRows, threads, [&](const unsigned char* bytes, std::size_t size) {
        png.append(reinterpret_cast<const char*>(bytes), size);
        return true;
    });
    EXPECT_EQ(written.ending, PngWrite::written) << (written.failure != nullptr ? written.failure : "");
    return png;
}

std::uint32_t bigEndian(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

// Runs `work` with the process's address space limited to what it uses now
// and `room` bytes more.
void withAddressSpaceLeft(long room, const std::function<void()>& work)
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = static_cast<rlim_t>(pages * ::sysconf(_SC_PAGESIZE) + room);
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limited), 0);
    work();
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &before), 0);
}

// Whether `png` is a file of 8-bit RGB pixels of `size` made of IHDR,
// `idatChunks` IDAT chunks and IEND, in that order and nothing after, each
// chunk's CRC right, and whose IDAT data are one zlib stream, Adler-32
// right, that ends with the data and holds every row with the SUB or the
// Paeth filter. The filtered rows go to `filtered`, when given.
testing::AssertionResult wellFormed(const std::string& png, cv::Size size, int idatChunks,
                                    std::string* filtered = nullptr)
{
    if (png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0)
        return testing::AssertionFailure() << "no signature";
    std::string chunks, header, data;
    std::size_t at = 8;
    for (; at + 12 <= png.size(); at += 12 + bigEndian(png, at)) {
        const std::uint32_t length = bigEndian(png, at);
        const std::string type = png.substr(at + 4, 4);
        if (png.size() - at - 12 < length)
            return testing::AssertionFailure() << type << " runs past the end";
        const auto* typed = reinterpret_cast<const Bytef*>(png.data() + at + 4);
        if (crc32(0, typed, 4 + length) != bigEndian(png, at + 8 + length))
            return testing::AssertionFailure() << "wrong CRC in " << type << " after " << chunks;
        (type == "IHDR" ? header : data) += type == "IEND" ? "" : png.substr(at + 8, length);
        chunks += type + " ";
    }
    std::string expectedChunks = "IHDR ";
    for (int i = 0; i < idatChunks; ++i)
        expectedChunks += "IDAT ";
    if (chunks != expectedChunks + "IEND " || at != png.size())
        return testing::AssertionFailure() << "chunks " << chunks << "and " << png.size() - at << " bytes after them";
    if (header.size() != 13 || bigEndian(header, 0) != unsigned(size.width) ||
        bigEndian(header, 4) != unsigned(size.height) || header.substr(8) != std::string{8, 2, 0, 0, 0})
        return testing::AssertionFailure() << "wrong IHDR";

    const std::size_t rowSize = 1 + 3 * std::size_t(size.width);
    std::vector<Bytef> rows(rowSize * size.height + 1);  // a spare byte that must stay unused
    uLongf rowsLength = rows.size();
    uLong dataLength = data.size();
    const int code = uncompress2(rows.data(), &rowsLength, reinterpret_cast<const Bytef*>(data.data()), &dataLength);
    if (code != Z_OK || rowsLength != rows.size() - 1 || dataLength != data.size())
        return testing::AssertionFailure() << "zlib: " << zError(code) << ", " << rowsLength << " bytes from "
                                           << dataLength << " of " << data.size();
    for (std::size_t row = 0; row < std::size_t(size.height); ++row)
        if (rows[row * rowSize] != 1 && rows[row * rowSize] != 4)
            return testing::AssertionFailure() << "row " << row << " has filter " << int(rows[row * rowSize]);
    if (filtered != nullptr)
        filtered->assign(rows.begin(), rows.end() - 1);
    return testing::AssertionSuccess();
}

testing::AssertionResult decodesTo(const std::string& png, const cv::Mat& image)
{
    const cv::Mat decoded = cv::imdecode(std::vector<unsigned char>(png.begin(), png.end()), cv::IMREAD_UNCHANGED);
    if (decoded.type() != image.type() || decoded.size() != image.size() || cv::norm(decoded, image, cv::NORM_INF) != 0)
        return testing::AssertionFailure() << "decoded pixels differ";
    return testing::AssertionSuccess();
}

TEST(PngWriter, EveryCutGivesTheSamePixelsInAWellFormedStream)
{
    struct Case {
        int width, height, runRows, threads;
    };
    const Case cases[] = {
        {1, 1, 1, 1},       {1, 1, 8, 4},     // one pixel; more rows per run than rows
        {1, 300, 43, 3},    {500, 1, 1, 2},   // one column; one row
        {40, 5, 2, 4},                        // a short last run
        {64, 12, 1, 3},                       // one row per run
        {600, 4000, 334, 4}, {600, 4000, 800, 1},
    };
    for (const Case& test : cases) {
        for (const bool random : {false, true}) {
            SCOPED_TRACE(testing::Message() << test.width << "x" << test.height << " in runs of " << test.runRows
                                            << " rows on " << test.threads << " threads, random " << random);
            cv::Mat image(test.height, test.width, CV_8UC3, cv::Scalar(30, 140, 250));
            if (random)
                cv::randu(image, 0, 256);
            const std::string png = encode(image, test.runRows, test.threads);
            EXPECT_TRUE(wellFormed(png, image.size(), (test.height + test.runRows - 1) / test.runRows));
            EXPECT_TRUE(decodesTo(png, image));
        }
    }
}

TEST(PngWriter, RandomImagesInRandomRunsComeBackWhole)
{
    cv::RNG rng(20240611);
    for (int round = 0; round < 300; ++round) {
        // Rows of noise among constant rows, so that runs of equal bytes
        // meet run boundaries too.
        cv::Mat image(rng.uniform(1, 60), rng.uniform(1, 60), CV_8UC3, cv::Scalar::all(rng.uniform(0, 256)));
        for (int y = 0; y < image.rows; ++y)
            if (rng.uniform(0, 2) == 1)
                rng.fill(image.row(y), cv::RNG::UNIFORM, 0, 256);
        const cv::Mat view = rng.uniform(0, 4) == 0 ? image.colRange(0, rng.uniform(1, image.cols + 1)) : image;
        const int runRows = rng.uniform(1, 25);
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << view.size() << " in runs of " << runRows);
        const std::string png = encode(view, runRows, rng.uniform(1, 5));
        ASSERT_TRUE(wellFormed(png, view.size(), (view.rows + runRows - 1) / runRows));
        ASSERT_TRUE(decodesTo(png, view));
    }
}

TEST(PngWriter, ARefusingSinkEndsTheWriteAtOnce)
{
    cv::Mat image(300, 200, CV_8UC3);
    cv::randu(image, 0, 256);
    // Refused: the signature, the IHDR chunk, the first IDAT's data, IEND.
    const std::size_t whole = encode(image, 50, 3).size();
    for (const std::size_t accepted : {std::size_t{0}, std::size_t{8}, std::size_t{41}, whole - 12}) {
        SCOPED_TRACE(accepted);
        std::size_t taken = 0;
        int callsAfterRefusal = 0;
        const PngWrite written = writePng(image, 50, 3, [&](const unsigned char*, std::size_t size) {
            callsAfterRefusal += taken > accepted;
            taken += size;
            return taken <= accepted;
        });
        EXPECT_EQ(written.ending, PngWrite::refused) << "not the encoder's failure";
        EXPECT_EQ(written.failure, nullptr);
        EXPECT_EQ(callsAfterRefusal, 0);
    }
}

TEST(PngWriter, WhatItCannotWriteIsRefusedBeforeAnyByte)
{
    const cv::Mat colour(4, 4, CV_8UC3, cv::Scalar::all(9));
    const struct {
        cv::Mat image;
        int runRows, threads;
    } cases[] = {
        {cv::Mat(4, 4, CV_8UC1, cv::Scalar(9)), 1, 1}, {cv::Mat(4, 4, CV_16UC3), 1, 1}, {cv::Mat(), 1, 1},
        {colour, 0, 1}, {colour, 1, 0},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(testing::Message() << test.image.size() << " type " << test.image.type() << ", runs of "
                                        << test.runRows << " rows, " << test.threads << " threads");
        bool called = false;
        const PngWrite written = writePng(test.image, test.runRows, test.threads, [&](const unsigned char*, std::size_t) {
            return called = true;
        });
        EXPECT_FALSE(called);
        EXPECT_EQ(written.ending, PngWrite::failed);
        EXPECT_NE(written.failure, nullptr);
    }
}

TEST(PngWriter, MemoryRunningOutIsTheEncodersFailure)
{
#ifdef LUMALEVELLER_SANITIZE
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit in a limited address space";
#endif
    // One run of 72 MB: its room for the deflated bytes is more than any of
    // the allocator's arenas holds in reserve, so it needs new address
    // space, and the space in use now and 4 MiB leave too little for that.
    cv::Mat image(4000, 6000, CV_8UC3, cv::Scalar(1, 2, 3));
    PngWrite written{};
    withAddressSpaceLeft(4 << 20, [&] {
        written = writePng(image, 4000, 2, [](const unsigned char*, std::size_t) { return true; });
    });
    EXPECT_EQ(written.ending, PngWrite::failed);
    EXPECT_STREQ(written.failure, "out of memory");
}

// The runs are cut as pngRunRows says, the file checked with Debian's
// pngcheck. Each row's filter depends on it and the row above alone: the
// rows come out filtered as with a run for every row.
TEST(PngWriter, OneThreadAndFourWriteTheSameBytesThatPngcheckAccepts)
{
    const cv::Size sizes[] = {
        {1, 1}, {3000, 1}, {1, 2000},  // one pixel, one row, one column
        {600, 1300},                   // runs of 582 rows, the last of 136
        {1500, 699},                   // runs of 232 rows, the last of 3
    };
    cv::RNG rng(7);
    std::vector<cv::Mat> images;
    for (const cv::Size size : sizes) {
        // Noise over a gradient, as deflate meets in a photograph's rows.
        cv::Mat image(size, CV_8UC3);
        for (int y = 0; y < image.rows; ++y)
            image.row(y).setTo(cv::Scalar(y % 256, (3 * y) % 256, 128));
        cv::Mat noise(size, CV_8UC3);
        rng.fill(noise, cv::RNG::NORMAL, 0, 6);
        images.push_back(image + noise);
    }
    // Paeth's rows, then SUB's: vertical stripes of noise, which Paeth
    // takes from the row above, across the first cut (row 582); below,
    // horizontal ramps under rows of noise, which SUB takes from the left.
    cv::Mat mixed(1300, 600, CV_8UC3);
    rng.fill(mixed.row(0), cv::RNG::UNIFORM, 0, 256);
    for (int y = 1; y < mixed.rows; ++y) {
        if (y < 700)
            mixed.row(0).copyTo(mixed.row(y));
        else if (y % 2 == 0)
            rng.fill(mixed.row(y), cv::RNG::UNIFORM, 0, 256);
        else
            for (int x = 0; x < mixed.cols; ++x)
                mixed.at<cv::Vec3b>(y, x) = cv::Vec3b::all(static_cast<unsigned char>(x + y));
    }
    images.push_back(mixed);
    // A row of more bytes than a run holds: a run of its own.
    images.push_back(cv::Mat(1, 400000, CV_8UC3, cv::Scalar(10, 120, 240)));

    const fs::path file = fs::temp_directory_path() / ("lumaLeveller-pngcheck-" + std::to_string(::getpid()) + ".png");
    for (const cv::Mat& image : images) {
        SCOPED_TRACE(image.size());
        const int runRows = pngRunRows(image.cols);
        const std::string one = encode(image, runRows, 1);
        EXPECT_EQ(one, encode(image, runRows, 4));
        EXPECT_TRUE(decodesTo(one, image));
        std::string filtered, filteredByRow;
        EXPECT_TRUE(wellFormed(one, image.size(), (image.rows + runRows - 1) / runRows, &filtered));
        EXPECT_TRUE(wellFormed(encode(image, 1, 2), image.size(), image.rows, &filteredByRow));
        EXPECT_TRUE(filtered == filteredByRow) << "the filters depend on the runs";
        std::ofstream(file, std::ios::binary) << one;
        EXPECT_EQ(std::system(("timeout 60 pngcheck -q " + file.string()).c_str()), 0);
    }
    std::string filtered;
    ASSERT_TRUE(wellFormed(encode(mixed, pngRunRows(mixed.cols), 2), mixed.size(), 3, &filtered));
    const std::size_t rowSize = 1 + 3 * std::size_t(mixed.cols);
    for (const int row : {0, 1, 581, 582, 699})
        EXPECT_EQ(int(filtered[row * rowSize]), row == 0 ? 1 : 4) << "row " << row;
    for (const int row : {701, 1163, 1164, 1299})
        EXPECT_EQ(int(filtered[row * rowSize]), 1) << "row " << row;
    fs::remove(file);
}

// A slow sink leaves the threads at most 2 x threads runs ahead of it: on
// each IDAT chunk it sleeps and paints the run that many places further
// on, which must not have been read yet.
TEST(PngWriter, ASlowSinkHoldsTwoRunsPerThreadAtMost)
{
    const int threads = 3, ahead = 2 * threads;
    cv::Mat image(40, 64, CV_8UC3, cv::Scalar::all(100));
    cv::Mat painted = image.clone();
    painted.rowRange(ahead, image.rows).setTo(cv::Scalar::all(200));
    int idats = 0;
    std::string png;
    const PngWrite written = writePng(image, 1, threads, [&](const unsigned char* bytes, std::size_t size) {
        if (size == 8 && std::string(reinterpret_cast<const char*>(bytes) + 4, 4) == "IDAT") {
            ::usleep(2000);
            if (idats + ahead < image.rows)
                image.row(idats + ahead).setTo(cv::Scalar::all(200));
            ++idats;
        }
        png.append(reinterpret_cast<const char*>(bytes), size);
        return true;
    });
    ASSERT_EQ(written.ending, PngWrite::written);
    EXPECT_TRUE(decodesTo(png, painted)) << "a run was deflated more than " << ahead << " runs ahead of the sink";
}

} // namespace

// A profile goes in as an iCCP chunk right after IHDR, under its name; a
// name that PNG does not allow, or a profile of no bytes, is refused
// before any byte is written.
TEST(PngWriter, AProfileIsWrittenUnderANameThatPngAllows)
{
    const cv::Mat image(2, 2, CV_8UC3, cv::Scalar::all(9));
    const unsigned char bytes[] = {1, 2, 3};
    const struct {
        std::string name;
        std::size_t size;
        bool taken;
    } cases[] = {
        {std::string(79, 'n'), 3, true}, {"caf\xe9 profile", 3, true}, {"", 3, false}, {std::string(80, 'n'), 3, false},
        {" lead", 3, false}, {"trail ", 3, false}, {"two  spaces", 3, false}, {"tab\there", 3, false},
        {"\x7f", 3, false}, {"empty", 0, false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::string png;
        const PngProfile profile{test.name.c_str(), bytes, test.size};
        const PngWrite written = writePng(image, 1, 1, [&](const unsigned char* data, std::size_t size) {
            png.append(reinterpret_cast<const char*>(data), size);
            return true;
        }, &profile);
        EXPECT_EQ(written.ending, test.taken ? PngWrite::written : PngWrite::failed);
        EXPECT_EQ(png.empty(), !test.taken);
        if (test.taken) {
            EXPECT_EQ(png.substr(33 + 4, 4 + test.name.size() + 2), "iCCP" + test.name + std::string(2, '\0'));
        }
    }
}

// A profile that memory does not suffice to deflate is left out: the file
// is the one written without a profile.
TEST(PngWriter, AProfileWithoutMemoryToDeflateItIsLeftOut)
{
#ifdef LUMALEVELLER_SANITIZE
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit in a limited address space";
#endif
    const cv::Mat image(2, 2, CV_8UC3, cv::Scalar::all(9));
    // Its chunk needs more new address space than the limit leaves.
    const std::vector<unsigned char> bytes(std::size_t{256} << 20, 7);
    const PngProfile profile{"ICC profile", bytes.data(), bytes.size()};
    std::string png;
    PngWrite written{};
    withAddressSpaceLeft(64 << 20, [&] {
        written = writePng(image, 1, 1, [&](const unsigned char* data, std::size_t size) {
            png.append(reinterpret_cast<const char*>(data), size);
            return true;
        }, &profile);
    });
    EXPECT_EQ(written.ending, PngWrite::written);
    EXPECT_EQ(png, encode(image, 1, 1));
}
