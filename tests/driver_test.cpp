// lumaLeveller as a process: console bytes, exit statuses, the result file,
// and what happens when the input, the folder or the display fail. The tests
// run without a display, so a run that gets as far as showing the result
// ends with status 3 after writing it.
#include "illumination.h"
#include "process.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kUsageOutput =
    "LumaclearApp  By Lumaclear\xe5\xbc\x80\xe5\x8f\x91\xe7\xbb\x84    Lumaclear\xe7\xa4\xbe\xe5\x8c\xba "
    "https://lumaclear.example.org\n\n"
    "Usage: lumaLeveller  image\n\n";
const std::string kReadError = "Error: Could not open or find the image.\n\n";
const std::string kWriteError = "Error: Could not write the result to lumaLeveller.png.\n\n";
const std::string kShowError =
    "Error: Could not show the result window; the result was saved as lumaLeveller.png.\n\n";
const std::string kProcessingError = "Error: Could not process the image: ";

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A PNG that holds only a header claiming `width` x `height` RGB pixels,
// followed by a data chunk of garbage.
std::string pngHeaderOnly(uint32_t width, uint32_t height)
{
    const auto bigEndian = [](uint32_t value) {
        return std::string{char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        const std::string typed = type + data;
        const auto crc = ::crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
        return bigEndian(static_cast<uint32_t>(data.size())) + typed + bigEndian(static_cast<uint32_t>(crc));
    };
    const std::string header = bigEndian(width) + bigEndian(height) + std::string{8, 2, 0, 0, 0};
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", "garbage") + chunk("IEND", "");
}

class Driver : public testing::Test {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() / ("lumaLeveller-test-" + std::to_string(::getpid()) + "-" +
                                              testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        // Readable for the unprivileged user of the unwritable-folder case.
        fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(folder, ignored);
    }

    Launch launch(std::vector<std::string> arguments) const
    {
        return Launch{LUMALEVELLER_BINARY, std::move(arguments), folder.string()};
    }

    // A small photo-like image: a lit page, a broad shadow, thin strokes.
    fs::path photo(const std::string& name, cv::Size size = {160, 120}) const
    {
        cv::Mat image(size, CV_8UC3, cv::Scalar(170, 200, 225));
        cv::rectangle(image, cv::Rect(size.width / 2, 0, size.width / 2, size.height), cv::Scalar(70, 90, 110),
                      cv::FILLED);
        cv::line(image, {5, 10}, {size.width - 5, size.height - 10}, cv::Scalar(20, 30, 140), 2);
        const fs::path path = folder / name;
        fs::create_directories(path.parent_path());
        cv::imwrite(path.string(), image);
        return path;
    }

    std::set<std::string> entries(const fs::path& where) const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(where))
            names.insert(entry.path().filename().string());
        return names;
    }

    // The bytes the result file must hold for `input`: its flattened image
    // encoded as PNG with the library's default settings.
    std::string expectedResult(const fs::path& input) const
    {
        std::vector<uchar> png;
        cv::imencode(".png", flattenIllumination(cv::imread(input.string(), cv::IMREAD_COLOR)), png);
        return std::string(png.begin(), png.end());
    }

    fs::path folder;
    const fs::path result = "lumaLeveller.png";
};

TEST_F(Driver, WrongArgumentCountPrintsUsageAndTouchesNothing)
{
    photo("a.png");
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"a.png", "a.png"}}) {
        SCOPED_TRACE(arguments.size());
        const Outcome outcome = run(launch(arguments));
        EXPECT_TRUE(outcome.finished) << "the pause must end at the end of input";
        EXPECT_EQ(outcome.exitStatus, 8);
        EXPECT_EQ(outcome.output, kUsageOutput);
        EXPECT_EQ(entries(folder), std::set<std::string>{"a.png"});
    }
}

TEST_F(Driver, UsagePausesForOneCharacter)
{
    Child child = start(launch({}));
    EXPECT_EQ(readOutput(child, kUsageOutput.size(), 5000ms), kUsageOutput) << "the texts come before the pause";
    EXPECT_FALSE(endsWithin(child, 500ms)) << "waits for a character";
    ASSERT_EQ(::write(child.input, "x", 1), 1);
    EXPECT_TRUE(endsWithin(child, 5000ms)) << "one character ends the pause";
    const Outcome outcome = finish(child);
    EXPECT_EQ(outcome.exitStatus, 8);
    EXPECT_EQ(outcome.output, "");
}

TEST_F(Driver, UnreadableInputsEndWithTheReadErrorAndNoPause)
{
    writeFile(folder / "notes.txt", "not an image\n");
    writeFile(folder / "huge.png", pngHeaderOnly(65535, 65535));
    for (const std::string& input : {std::string(), std::string("missing.png"), std::string("notes.txt"),
                                     std::string("huge.png")}) {
        SCOPED_TRACE(input);
        Child child = start(launch({input}));
        EXPECT_TRUE(endsWithin(child, 5000ms)) << "no pause on this path";
        const Outcome outcome = finish(child);
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.output, kReadError);
        EXPECT_FALSE(fs::exists(folder / result));
    }
}

TEST_F(Driver, WithoutADisplayTheResultIsWrittenAndTheFailureReported)
{
    const fs::path input = photo("page.jpg");
    const Outcome outcome = run(launch({"page.jpg"}));
    EXPECT_EQ(outcome.signal, 0) << "no abort, no core dump";
    EXPECT_EQ(outcome.exitStatus, 3);
    EXPECT_EQ(outcome.output, kShowError);
    EXPECT_EQ(readFile(folder / result), expectedResult(input));
    EXPECT_EQ(entries(folder), (std::set<std::string>{"page.jpg", "lumaLeveller.png"})) << "no temporary left";
}

TEST_F(Driver, EveryInputKindGivesAnEightBitColourResult)
{
    cv::Mat colour(37, 53, CV_8UC3);
    cv::randu(colour, 0, 256);
    cv::Mat grey, withAlpha, deep;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    cv::cvtColor(colour, withAlpha, cv::COLOR_BGR2BGRA);
    colour.convertTo(deep, CV_16UC3, 257);
    const std::vector<std::pair<std::string, cv::Mat>> inputs = {
        {"grey.png", grey}, {"alpha.png", withAlpha}, {"deep.png", deep}, {"colour.bmp", colour}};
    for (const auto& [name, image] : inputs) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(cv::imwrite((folder / name).string(), image));
        EXPECT_EQ(run(launch({name})).exitStatus, 3);
        const cv::Mat written = cv::imread((folder / result).string(), cv::IMREAD_UNCHANGED);
        EXPECT_EQ(written.type(), CV_8UC3);
        EXPECT_EQ(written.size(), colour.size());
        EXPECT_EQ(readFile(folder / result), expectedResult(folder / name));
    }
}

TEST_F(Driver, ResultLandsInTheWorkingDirectoryAndReplacesTheLastOne)
{
    const fs::path first = photo("in/first.png", {64, 48});
    const fs::path second = photo("in/second.jpg", {50, 70});
    EXPECT_EQ(run(launch({"in/first.png"})).exitStatus, 3);
    EXPECT_EQ(readFile(folder / result), expectedResult(first));
    EXPECT_EQ(run(launch({(folder / "in/second.jpg").string()})).exitStatus, 3);
    EXPECT_EQ(readFile(folder / result), expectedResult(second));
    EXPECT_FALSE(fs::exists(folder / "in" / result));
}

TEST_F(Driver, AnInputNamedLikeTheResultIsReplacedByItsResult)
{
    const fs::path input = photo("lumaLeveller.png");
    const std::string expected = expectedResult(input);
    EXPECT_EQ(run(launch({"lumaLeveller.png"})).exitStatus, 3);
    EXPECT_EQ(readFile(folder / result), expected);
}

TEST_F(Driver, TheResultIsAnOrdinaryNewFileNeverWrittenThroughALink)
{
    writeFile(folder / "elsewhere.txt", "keep me");
    fs::create_symlink("elsewhere.txt", folder / result);
    const fs::path input = photo("page.png");
    Launch restrictive = launch({"page.png"});
    restrictive.umask = 027;
    EXPECT_EQ(run(restrictive).exitStatus, 3);
    EXPECT_EQ(readFile(folder / "elsewhere.txt"), "keep me");
    ASSERT_FALSE(fs::is_symlink(folder / result));
    EXPECT_EQ(readFile(folder / result), expectedResult(input));
    struct stat info {};
    ASSERT_EQ(::stat((folder / result).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(Driver, AnUnwritableFolderIsReportedAndKeepsTheEarlierResult)
{
    // Root writes anywhere, so the program runs as an unprivileged user from
    // a copy of its binary that that user can reach.
    const fs::path binary = folder / "bin" / "lumaLeveller";
    fs::create_directories(binary.parent_path());
    fs::copy_file(LUMALEVELLER_BINARY, binary);
    photo("page.png");
    writeFile(folder / result, "earlier result");
    fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    Launch unprivileged = launch({"page.png"});
    unprivileged.program = binary.string();
    unprivileged.asOtherUser = true;
    const Outcome outcome = run(unprivileged);
    EXPECT_EQ(outcome.exitStatus, 2) << "no window, no notice";
    EXPECT_EQ(outcome.output, kWriteError);
    EXPECT_EQ(readFile(folder / result), "earlier result");
    EXPECT_EQ(entries(folder), (std::set<std::string>{"bin", "page.png", "lumaLeveller.png"}));
}

TEST_F(Driver, AWriteCutShortKeepsTheEarlierResultAndLeavesNoTemporary)
{
    cv::Mat noise(64, 64, CV_8UC3);
    cv::randu(noise, 0, 256);
    cv::imwrite((folder / "noise.png").string(), noise);
    writeFile(folder / result, "earlier result");
    Launch limited = launch({"noise.png"});
    limited.fileSizeLimit = 4096;  // the result needs about 12 kB
    const Outcome outcome = run(limited);
    EXPECT_EQ(outcome.signal, 0) << "a file-size limit must not kill the run";
    EXPECT_EQ(outcome.exitStatus, 2);
    EXPECT_EQ(outcome.output, kWriteError);
    EXPECT_EQ(readFile(folder / result), "earlier result");
    EXPECT_EQ(entries(folder), (std::set<std::string>{"noise.png", "lumaLeveller.png"}));
}

TEST_F(Driver, ExhaustedMemoryIsReportedNotCrashed)
{
    // The header claims 30000 x 30000 pixels: within the reader's limit, but
    // 2.7 GB that a 1 GB address space cannot hold.
    writeFile(folder / "big.png", pngHeaderOnly(30000, 30000));
    Launch limited = launch({"big.png"});
    limited.addressSpaceLimit = 1ull << 30;
    const Outcome outcome = run(limited);
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_EQ(outcome.exitStatus, 4);
    EXPECT_EQ(outcome.output.rfind(kProcessingError, 0), 0u) << outcome.output;
    EXPECT_GT(outcome.output.size(), kProcessingError.size() + 2) << "a reason follows";
    EXPECT_EQ(outcome.output.substr(outcome.output.size() - 2), "\n\n");
    EXPECT_FALSE(fs::exists(folder / result));
}

} // namespace
