#include "driver_fixture.h"

#include "illumination.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <zlib.h>

#include <fstream>
#include <iterator>

#include <unistd.h>

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void makeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string pngFile(std::uint32_t width, std::uint32_t height, const std::string& data)
{
    const auto bigEndian = [](std::uint32_t value) {
        return std::string{char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    };
    const auto chunk = [&](const std::string& type, const std::string& content) {
        const std::string typed = type + content;
        const auto crc = ::crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
        return bigEndian(static_cast<std::uint32_t>(content.size())) + typed +
               bigEndian(static_cast<std::uint32_t>(crc));
    };
    const std::string header = bigEndian(width) + bigEndian(height) + std::string{8, 2, 0, 0, 0};
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", data) + chunk("IEND", "");
}

void Driver::SetUp()
{
    folder = fs::temp_directory_path() / ("lumaLeveller-test-" + std::to_string(::getpid()) + "-" +
                                          testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    // Readable for the unprivileged user of the unwritable-folder case.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
}

void Driver::TearDown()
{
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder, ignored);
}

Launch Driver::launch(std::vector<std::string> arguments) const
{
    return Launch{LUMALEVELLER_BINARY, std::move(arguments), folder.string()};
}

Launch Driver::launchAsOtherUser(std::vector<std::string> arguments) const
{
    const fs::path binary = folder / "bin" / "lumaLeveller";
    fs::create_directories(binary.parent_path());
    fs::copy_file(LUMALEVELLER_BINARY, binary, fs::copy_options::skip_existing);
    Launch other = launch(std::move(arguments));
    other.program = binary.string();
    other.asOtherUser = true;
    return other;
}

fs::path Driver::photo(const std::string& name, cv::Size size) const
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

std::set<std::string> Driver::entries(const fs::path& where) const
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(where))
        names.insert(entry.path().filename().string());
    return names;
}

cv::Mat Driver::expectedResult(const fs::path& input) const
{
    return flattenIllumination(cv::imread(input.string(), cv::IMREAD_COLOR));
}

cv::Mat Driver::resultImage() const
{
    return cv::imread((folder / result).string(), cv::IMREAD_UNCHANGED);
}

testing::AssertionResult samePixels(const cv::Mat& actual, const cv::Mat& expected)
{
    if (actual.empty())
        return testing::AssertionFailure() << "no image";
    if (actual.type() != expected.type() || actual.size() != expected.size())
        return testing::AssertionFailure() << "type " << actual.type() << ", " << actual.size() << " instead of type "
                                           << expected.type() << ", " << expected.size();
    if (cv::norm(actual, expected, cv::NORM_INF) != 0.0)
        return testing::AssertionFailure() << "the pixels differ";
    return testing::AssertionSuccess();
}
