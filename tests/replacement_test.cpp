// What the program builds on the platform's primitives, run against the
// in-memory fake of them: the result file replaced all or nothing whatever
// step fails, what an interruption removes, and OpenCV's temporary folder
// during the decoding.
#include "fake_platform.h"
#include "clean_up.h"
#include "input.h"
#include "output.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const auto* kNew = reinterpret_cast<const unsigned char*>("new file");

struct Failure {
    const char* what;
    bool FakeSystem::*fails;
};

void PrintTo(const Failure& failure, std::ostream* out)
{
    *out << failure.what;
}

class Replacing : public testing::TestWithParam<Failure> {
protected:
    void SetUp() override
    {
        fake = FakeSystem{};
        fake.files["result.png"] = "earlier";
    }
};

TEST_P(Replacing, AFailedStepKeepsTheEarlierFileAndLeavesNoTemporary)
{
    fake.*GetParam().fails = true;
    Replacement replacement = beginReplacing("result.png");
    writeReplacement(replacement, kNew, 8);
    EXPECT_FALSE(finishReplacing(replacement, true));
    EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"result.png", "earlier"}}));
}

INSTANTIATE_TEST_SUITE_P(Each, Replacing,
                         testing::Values(Failure{"write", &FakeSystem::failWrite},
                                         Failure{"flush", &FakeSystem::failFlush},
                                         Failure{"rename", &FakeSystem::failRename},
                                         Failure{"names", &FakeSystem::everyNameTaken}),
                         [](const testing::TestParamInfo<Failure>& info) { return info.param.what; });

TEST_F(Replacing, RunningOutOfTemporaryNamesIsAWriteFailure)
{
    fake.everyNameTaken = true;
    Replacement replacement = beginReplacing("result.png");
    EXPECT_FALSE(writeReplacement(replacement, kNew, 8));
    EXPECT_EQ(fake.creations, 100);
    EXPECT_EQ(saveResult(cv::Mat(2, 2, CV_8UC3)).status, ExitStatus::notWritten);
}

TEST_F(Replacing, WhatIsKeptReplacesTheFileAndWhatIsDroppedLeavesIt)
{
    for (const bool keep : {false, true}) {
        Replacement replacement = beginReplacing("result.png");
        EXPECT_TRUE(writeReplacement(replacement, kNew, 8));
        EXPECT_EQ(finishReplacing(replacement, keep), keep);
        EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"result.png", keep ? "new file" : "earlier"}}));
    }
}

TEST_F(Replacing, ARenameRefusedWhileAnotherHoldsTheFileIsTriedForAWhile)
{
    for (const int held : {3, 1000}) {
        fake.files = {{"result.png", "earlier"}};
        fake.heldRenames = held;
        Replacement replacement = beginReplacing("result.png");
        writeReplacement(replacement, kNew, 8);
        EXPECT_EQ(finishReplacing(replacement, true), held == 3);
        EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"result.png", held == 3 ? "new file" : "earlier"}}));
    }
}

TEST(Decoding, OpenCvWritesToAPrivateFolderThatTheEndRemoves)
{
    for (const char* setting : {static_cast<const char*>(nullptr), "/elsewhere"}) {
        fake = FakeSystem{};
        fake.files["input"] = "no image";
        if (setting != nullptr) {
            ::setenv("OPENCV_TEMP_PATH", setting, 1);
        }
        // Elsewhere, the first name tried is taken already.
        fake.takenFolders = setting != nullptr ? 1 : 0;
        const std::string prefix = std::string(setting != nullptr ? setting : "/system-temporary") + "/lumaLeveller.42-";
        bool guarded = false;
        fake.whileDecoding = [&] {
            guarded = true;
            const char* folder = std::getenv("OPENCV_TEMP_PATH");
            ASSERT_NE(folder, nullptr);
            EXPECT_EQ(std::string(folder).rfind(prefix, 0), 0U) << folder;
            EXPECT_EQ(fake.folders, std::set<std::string>{folder});
        };
        cv::Mat image;
        EXPECT_EQ(readImage("input", image).status, ExitStatus::unreadableInput);
        EXPECT_TRUE(guarded);
        const char* after = std::getenv("OPENCV_TEMP_PATH");
        EXPECT_EQ(after != nullptr ? std::string(after) : "unset", setting != nullptr ? setting : "unset");
        EXPECT_TRUE(fake.folders.empty());
        ::unsetenv("OPENCV_TEMP_PATH");
    }
}

// The interruption handler's clean-up (removeLeftovers) run in the middle
// of the decoding and of the write: what the run had made goes, the earlier
// result stays, and the run, going on, ends as for a failed step.
TEST(Interruption, RemovesWhatTheDecodingAndTheWriteRegistered)
{
    for (const bool whileWriting : {false, true}) {
        SCOPED_TRACE(whileWriting ? "writing" : "decoding");
        fake = FakeSystem{};
        fake.files = {{"input", "no image"}, {texts::outputName, "earlier"}};
        const auto before = fake.files;
        bool made = false;
        const auto interrupt = [&] {
            made = made || !fake.folders.empty() || fake.files.size() > before.size();
            removeLeftovers();
            EXPECT_TRUE(fake.folders.empty());
            EXPECT_EQ(fake.files, before);
        };
        (whileWriting ? fake.whileWriting : fake.whileDecoding) = interrupt;
        cv::Mat image;
        const Outcome outcome = whileWriting ? saveResult(cv::Mat(2, 2, CV_8UC3, cv::Scalar::all(9)))
                                             : readImage("input", image);
        EXPECT_TRUE(made) << "nothing was registered to remove";
        EXPECT_EQ(outcome.status, whileWriting ? ExitStatus::notWritten : ExitStatus::unreadableInput);
        EXPECT_EQ(fake.files, before);
    }
}

} // namespace
