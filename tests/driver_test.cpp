// lumaLeveller as a process: console bytes, exit statuses, the result file,
// and what happens when the input, the folder or the display fail.
#include "driver_fixture.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

TEST_F(Driver, WrongArgumentCountPrintsUsageAndTouchesNothing)
{
    photo("a.png");
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"a.png", "a.png"}}) {
        SCOPED_TRACE(arguments.size());
        const ProcessResult outcome = run(launch(arguments));
        EXPECT_TRUE(outcome.finished) << "the pause must end at the end of input";
        EXPECT_EQ(outcome.exitStatus, 8);
        EXPECT_EQ(outcome.output, kUsageOutput);
        EXPECT_EQ(entries(folder), std::set<std::string>{"a.png"});
    }
}

TEST_F(Driver, UsagePausesForOneCharacter)
{
    Child child = start(launch({}));
    EXPECT_EQ(readOutput(child, kUsageOutput.size(), kStepDeadline), kUsageOutput) << "the texts come before the pause";
    EXPECT_FALSE(endsWithin(child, 500ms)) << "waits for a character";
    ASSERT_EQ(::write(child.input, "x", 1), 1);
    EXPECT_TRUE(endsWithin(child, kStepDeadline)) << "one character ends the pause";
    const ProcessResult outcome = finish(child);
    EXPECT_EQ(outcome.exitStatus, 8);
    EXPECT_EQ(outcome.output, "");
}

TEST_F(Driver, WithoutADisplayTheResultIsWrittenAndTheFailureReported)
{
    const fs::path input = photo("page.jpg");
    // No display named at all, and one named that no server answers on.
    for (const std::vector<std::string>& environment : {std::vector<std::string>{}, {"DISPLAY=:4095"}}) {
        SCOPED_TRACE(environment.size());
        Launch noDisplay = launch({"page.jpg"});
        noDisplay.environment = environment;
        const ProcessResult outcome = run(noDisplay);
        EXPECT_EQ(outcome.signal, 0) << "no abort, no core dump";
        EXPECT_EQ(outcome.exitStatus, 3);
        EXPECT_EQ(outcome.output, kShowError);
        EXPECT_TRUE(samePixels(resultImage(), expectedResult(input)));
        EXPECT_EQ(entries(folder), (std::set<std::string>{"page.jpg", texts::outputName})) << "no temporary left";
        // One line on why, without the toolkit's advice to reinstall.
        EXPECT_LE(std::count(outcome.errors.begin(), outcome.errors.end(), '\n'), 1) << outcome.errors;
        EXPECT_NE(outcome.errors.find("display"), std::string::npos) << outcome.errors;
        EXPECT_EQ(outcome.errors.find("einstall"), std::string::npos) << outcome.errors;
    }
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
        EXPECT_TRUE(samePixels(resultImage(), expectedResult(folder / name)));
    }
}

TEST_F(Driver, AGreyFloatFileIsReadAsItsColourTwinIs)
{
    // The samples are 0 to 255: the reader takes a float file's samples
    // over as they are, rounded.
    cv::Mat grey(37, 53, CV_32F), colour;
    cv::randu(grey, 0, 255);
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    ASSERT_TRUE(cv::imwrite((folder / "grey.pfm").string(), grey));
    ASSERT_TRUE(cv::imwrite((folder / "colour.pfm").string(), colour));
    const ProcessResult outcome = run(launch({"grey.pfm"}));
    EXPECT_EQ(outcome.exitStatus, 3);
    EXPECT_EQ(outcome.output, kShowError);
    EXPECT_TRUE(samePixels(resultImage(), expectedResult(folder / "colour.pfm")));
}

TEST_F(Driver, ResultLandsInTheWorkingDirectoryAndReplacesTheLastOne)
{
    const fs::path first = photo("in/first.png", {64, 48});
    const fs::path second = photo("in/second.jpg", {50, 70});
    EXPECT_EQ(run(launch({"in/first.png"})).exitStatus, 3);
    EXPECT_TRUE(samePixels(resultImage(), expectedResult(first)));
    EXPECT_EQ(run(launch({(folder / "in/second.jpg").string()})).exitStatus, 3);
    EXPECT_TRUE(samePixels(resultImage(), expectedResult(second)));
    EXPECT_FALSE(fs::exists(folder / "in" / result));
}

TEST_F(Driver, AnInputNamedLikeTheResultIsReplacedByItsResult)
{
    const fs::path input = photo(texts::outputName);
    const cv::Mat expected = expectedResult(input);
    EXPECT_EQ(run(launch({texts::outputName})).exitStatus, 3);
    EXPECT_TRUE(samePixels(resultImage(), expected));
}

TEST_F(Driver, TheResultIsAnOrdinaryNewFileNeverWrittenThroughALink)
{
    makeFile(folder / "elsewhere.txt", "keep me");
    fs::create_symlink("elsewhere.txt", folder / result);
    const fs::path input = photo("page.png");
    Launch restrictive = launch({"page.png"});
    restrictive.umask = 027;
    EXPECT_EQ(run(restrictive).exitStatus, 3);
    EXPECT_EQ(readFile(folder / "elsewhere.txt"), "keep me");
    ASSERT_FALSE(fs::is_symlink(folder / result));
    EXPECT_TRUE(samePixels(resultImage(), expectedResult(input)));
    struct stat info {};
    ASSERT_EQ(::stat((folder / result).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(Driver, AnUnwritableFolderIsReportedAndKeepsTheEarlierResult)
{
    // Root writes anywhere, so the program runs as an unprivileged user.
    const Launch unprivileged = launchAsOtherUser({"page.png"});
    photo("page.png");
    makeFile(folder / result, "earlier result");
    fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    const ProcessResult outcome = run(unprivileged);
    EXPECT_EQ(outcome.exitStatus, 2) << "no window, no notice";
    EXPECT_EQ(outcome.output, kWriteError);
    EXPECT_EQ(readFile(folder / result), "earlier result");
    EXPECT_EQ(entries(folder), (std::set<std::string>{"bin", "page.png", texts::outputName}));
}

TEST_F(Driver, AWriteCutShortKeepsTheEarlierResultAndLeavesNoTemporary)
{
    cv::Mat noise(64, 64, CV_8UC3);
    cv::randu(noise, 0, 256);
    cv::imwrite((folder / "noise.png").string(), noise);
    makeFile(folder / result, "earlier result");
    Launch limited = launch({"noise.png"});
    limited.fileSizeLimit = 4096;  // the result needs about 12 kB
    const ProcessResult outcome = run(limited);
    EXPECT_EQ(outcome.signal, 0) << "a file-size limit must not kill the run";
    EXPECT_EQ(outcome.exitStatus, 2);
    EXPECT_EQ(outcome.output, kWriteError);
    EXPECT_EQ(readFile(folder / result), "earlier result");
    EXPECT_EQ(entries(folder), (std::set<std::string>{"noise.png", texts::outputName}));
}

} // namespace
