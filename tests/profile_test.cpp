// The photo's colour profile in the result: one table of inputs made with
// ImageMagick from the profiles of Debian's colord-data and
// icc-profiles-free, each run as a process.
#include "driver_fixture.h"

#include <opencv2/imgcodecs.hpp>
#include <zlib.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>

#include <unistd.h>

namespace {

const fs::path kColord = "/usr/share/color/icc/colord";  // colord-data
const fs::path kFree = "/usr/share/color/icc";           // icc-profiles-free

std::uint32_t bigEndian(const std::string& bytes, std::size_t at)
{
    return std::uint32_t(std::uint8_t(bytes[at])) << 24 | std::uint32_t(std::uint8_t(bytes[at + 1])) << 16 |
           std::uint32_t(std::uint8_t(bytes[at + 2])) << 8 | std::uint8_t(bytes[at + 3]);
}

// `profile` grown with zeros to `size` bytes, its header saying so.
std::string padded(std::string profile, std::size_t size)
{
    profile.resize(size, '\0');
    for (int i = 0; i < 4; ++i)
        profile[i] = char(size >> (24 - 8 * i));
    return profile;
}

// The profile inflated from the iCCP chunk of the PNG file `png`; none when
// it has no such chunk.
std::optional<std::string> iccpProfile(const std::string& png)
{
    for (std::size_t at = 8; at + 12 <= png.size(); at += 12 + bigEndian(png, at)) {
        if (png.compare(at + 4, 4, "iCCP") != 0)
            continue;
        const std::string data = png.substr(at + 8, bigEndian(png, at));
        const std::string deflated = data.substr(data.find('\0') + 2);
        std::string profile(std::size_t{32} << 20, '\0');
        uLongf size = profile.size();
        EXPECT_EQ(::uncompress(reinterpret_cast<Bytef*>(profile.data()), &size,
                               reinterpret_cast<const Bytef*>(deflated.data()), deflated.size()), Z_OK);
        return profile.substr(0, size);
    }
    return std::nullopt;
}

// What cv::imread prints on standard error (libpng's warnings) as it reads
// `path`.
std::string readingErrors(const fs::path& path)
{
    std::fflush(stderr);
    const int saved = ::dup(2);
    std::FILE* capture = std::tmpfile();
    ::dup2(::fileno(capture), 2);
    const cv::Mat image = cv::imread(path.string(), cv::IMREAD_UNCHANGED);
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::string errors(static_cast<std::size_t>(std::ftell(capture)), '\0');
    std::rewind(capture);
    errors.resize(std::fread(errors.data(), 1, errors.size(), capture));
    std::fclose(capture);
    return image.empty() ? "no image" : errors;
}

// The byte at `offset` from the start of the `n`th ICC segment of a JPEG file.
char& inSegment(std::string& jpeg, int n, std::size_t offset)
{
    std::size_t at = 0;
    for (int k = 0; k < n; ++k)
        at = jpeg.find(std::string("ICC_PROFILE\0", 12), at + 1);
    return jpeg.at(at + offset);
}

TEST_F(Driver, AnRgbProfileIsKeptByteForByteOthersAreLeftOut)
{
    const std::string adobe = readFile(kColord / "AdobeRGB1998.icc");
    const std::string large = padded(readFile(kColord / "ProPhotoRGB.icc"), 150000);  // three APP2 segments
    std::string cmyk = readFile(kColord / "sRGB.icc");
    cmyk.replace(16, 4, "CMYK");
    struct Case {
        std::string name;
        std::string convertOptions;  // before -profile
        std::string profile;         // embedded; none when empty
        bool kept;
        std::function<void(std::string&)> damage = nullptr;  // of the file's bytes
        bool piped = false;                                   // fed to /dev/stdin
    };
    const Case cases[] = {
        {"none.jpg", "", "", false},
        {"adobe.jpg", "", adobe, true},
        {"piped.jpg", "", readFile(kFree / "sRGB.icc"), true, nullptr, true},
        {"prophoto.png", "", readFile(kColord / "ProPhotoRGB.icc"), true},
        {"ektaspace.tif", "", readFile(kColord / "EktaSpacePS5.icc"), true},
        {"compatible.webp", "", readFile(kFree / "compatibleWithAdobeRGB1998.icc"), true},
        {"large.jpg", "", large, true},
        {"grey.jpg", "-colorspace Gray", readFile(kFree / "Gray.icc"), false},
        {"cmyk.jpg", "-colorspace CMYK", cmyk, false},
        {"repeated-segment.jpg", "", large, false, [](std::string& jpeg) { inSegment(jpeg, 3, 12) = 2; }},
        {"size-mismatch.jpg", "", adobe, false, [](std::string& jpeg) { ++inSegment(jpeg, 1, 17); }},
    };
    const fs::path base = photo("base.png");
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const fs::path input = folder / test.name;
        makeFile(folder / "profile.icc", test.profile);
        const std::string profileOption = test.profile.empty() ? "" : " -profile " + (folder / "profile.icc").string();
        ASSERT_EQ(std::system(("convert " + base.string() + " " + test.convertOptions + profileOption + " " +
                               input.string()).c_str()), 0);
        if (test.damage) {
            std::string bytes = readFile(input);
            test.damage(bytes);
            makeFile(input, bytes);
        }
        Child child = start(launch({test.piped ? "/dev/stdin" : test.name}));
        if (test.piped) {
            const std::string bytes = readFile(input);
            ASSERT_EQ(::write(child.input, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        }
        EXPECT_EQ(finish(child).exitStatus, 3);
        EXPECT_TRUE(samePixels(resultImage(), expectedResult(input)));
        const std::optional<std::string> carried = iccpProfile(readFile(folder / result));
        EXPECT_EQ(carried.has_value(), test.kept);
        if (carried && test.kept) {
            EXPECT_TRUE(*carried == test.profile) << carried->size() << " bytes instead of " << test.profile.size();
        }
        EXPECT_EQ(std::system(("pngcheck -q " + (folder / result).string()).c_str()), 0);
        EXPECT_EQ(readingErrors(folder / result), "");
    }
}

} // namespace
