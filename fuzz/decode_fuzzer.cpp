// libFuzzer target: any bytes, decoded as the program reads a file (the
// colour read, brought to 8-bit colour), then flattened when they decode.
// The result must keep the size and be 8-bit with three channels; a crash
// or a sanitizer report anywhere on the way is a finding. The bytes' colour
// profile is read too, from memory and as a file is read, a few bytes at a
// time: both must give the same, and a profile only for RGB.
#include "colour_image.h"
#include "icc_profile.h"
#include "illumination.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

// Decoders allocate the image a header claims before reading its pixels;
// capping the pixels they accept (a setting the library reads once, as it
// loads) keeps each run small and fast. Larger claims are refused by
// raising, as the program's reader refuses them.
constexpr const char* kPixelCapSetting = "OPENCV_IO_MAX_IMAGE_PIXELS";
constexpr const char* kPixelCap = "1048576";

// Images larger than this are decoded but not flattened: the filter's cost
// grows with the pixels and its code paths do not.
constexpr std::size_t kMaxFilteredPixels = 256 * 256;

bool startsWith(const std::uint8_t* data, std::size_t size, const char* signature)
{
    const std::size_t length = std::strlen(signature);
    return size >= length && std::memcmp(data, signature, length) == 0;
}

// The main formats the reader takes, told apart by their first bytes. The
// decoders are not instrumented, so without these branches, taken for
// inputs that decode, the fuzzer would see every format run the same code
// and keep only one decodable input in its corpus.
const char* formatOf(const std::uint8_t* data, std::size_t size)
{
    if (startsWith(data, size, "\x89PNG")) {
        return "png";
    }
    if (startsWith(data, size, "\xff\xd8")) {
        return "jpeg";
    }
    if (startsWith(data, size, "BM")) {
        return "bmp";
    }
    if (size >= 2 && data[0] == 'P' && data[1] >= '1' && data[1] <= '7') {
        return "pnm";
    }
    if (startsWith(data, size, "II*") || startsWith(data, size, "MM")) {
        return "tiff";
    }
    if (startsWith(data, size, "RIFF")) {
        return "webp";
    }
    return "other";
}

// The DICOM decoder aborts on some malformed files, those with its
// signature after the 128-byte preamble; the program ends such a run as an
// unreadable input (see exitOnCrash in app/platform.h), but a fuzzer cannot
// outlive an abort, so these inputs are left out.
bool reachesDicomDecoder(const std::uint8_t* data, std::size_t size)
{
    return size >= 132 && std::memcmp(data + 128, "DICM", 4) == 0;
}

void require(bool holds, const char* what, const char* format)
{
    if (!holds) {
        std::printf("broken invariant on a %s input: %s\n", format, what);
        std::fflush(stdout);
        std::abort();
    }
}

// The colour profile of `data`, read from memory and from a source that
// gives at most 7 bytes a call, as a file may arrive.
void readProfile(const std::uint8_t* data, std::size_t size, const char* format)
{
    const std::vector<unsigned char> profile = readRgbIccProfile(data, size);
    std::size_t given = 0;
    const std::vector<unsigned char> read = readRgbIccProfile([&](unsigned char* buffer, std::size_t capacity) {
        const std::size_t count = std::min({capacity, size - given, std::size_t{7}});
        std::memcpy(buffer, data + given, count);
        given += count;
        return static_cast<long long>(count);
    });
    require(read == profile, "the same profile from memory and from a source", format);
    require(profile.empty() || (profile.size() >= 20 && std::memcmp(profile.data() + 16, "RGB ", 4) == 0),
            "a profile only for RGB", format);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv)
{
    if (std::getenv(kPixelCapSetting) == nullptr) {
        ::setenv(kPixelCapSetting, kPixelCap, 1);
        ::execv("/proc/self/exe", *argv);  // so that the library loads with it
        std::perror("execv");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (reachesDicomDecoder(data, size)) {
        return 0;
    }
    readProfile(data, size, formatOf(data, size));
    cv::Mat image;
    try {
        image = cv::imdecode(cv::Mat(1, static_cast<int>(size), CV_8U, const_cast<std::uint8_t*>(data)),
                             cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        return 0;  // refused by the reader
    }
    if (image.empty()) {
        return 0;
    }
    const char* format = formatOf(data, size);
    if (!toEightBitColour(image)) {
        return 0;  // the program reports such an image as unreadable
    }
    require(image.type() == CV_8UC3, "the image is brought to 8-bit colour", format);
    if (image.total() > kMaxFilteredPixels) {
        return 0;
    }
    const cv::Mat result = flattenIllumination(image);
    require(result.size() == image.size(), "same size", format);
    require(result.type() == CV_8UC3 && result.channels() == 3, "8-bit, three channels", format);
    return 0;
}
