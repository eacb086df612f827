// What the process tests of lumaLeveller share: the texts it prints, file
// helpers, and a fixture that gives each test a folder of its own to run
// the program in. The tests run without a display, so a run that gets as
// far as showing the result ends with status 3 after writing it.
#pragma once

#include "process.h"
#include "texts.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// The program's console texts as it prints them: puts adds a line feed.
inline const std::string kUsageOutput = std::string(texts::banner) + "\n" + texts::usage + "\n";
inline const std::string kReadError = std::string(texts::readError) + "\n";
inline const std::string kWriteError = std::string(texts::writeError) + "\n";
inline const std::string kShowError = std::string(texts::showError) + "\n";
inline const std::string kProcessingError = texts::processingErrorPrefix;

std::string readFile(const fs::path& path);
void makeFile(const fs::path& path, const std::string& bytes);

// A PNG file of `width` x `height` 8-bit RGB pixels whose data chunk holds
// `data` as it is (a zlib stream of the filtered rows, or garbage).
std::string pngFile(std::uint32_t width, std::uint32_t height, const std::string& data);

// Whether `actual` has the type, size and every pixel of `expected`.
testing::AssertionResult samePixels(const cv::Mat& actual, const cv::Mat& expected);

class Driver : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    Launch launch(std::vector<std::string> arguments) const;
    // The same, as an unprivileged user when the tests run as root, from a
    // copy of the program in the folder's "bin" that that user can reach.
    Launch launchAsOtherUser(std::vector<std::string> arguments) const;

    // A small photo-like image: a lit page, a broad shadow, thin strokes.
    fs::path photo(const std::string& name, cv::Size size = {160, 120}) const;

    std::set<std::string> entries(const fs::path& where) const;

    // The image the result file must hold for `input`: the input read in
    // colour and flattened.
    cv::Mat expectedResult(const fs::path& input) const;

    // The result file's pixels as the library decodes them, unchanged;
    // empty when there is no result file or it is not an image.
    cv::Mat resultImage() const;

    fs::path folder;
    const fs::path result = texts::outputName;
};
