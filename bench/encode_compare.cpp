// encode_compare: the PNG encode alone, the image library's default writer
// against lumaLeveller's (writePng), on the result the program writes for a
// photograph.
//
//   encode_compare IMAGE ROUNDS
//
// Reads IMAGE in colour and flattens it as the program does, then encodes
// the result into memory ROUNDS times with each writer in turn, writePng
// with the threads and runs that the program uses. Prints each writer's
// median wall time and bytes, then how much faster ours is and how its size
// compares. Exits with status 1 when a writer fails or the two files'
// pixels differ.
#include "illumination.h"
#include "png_writer.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

bool encodeDefault(const cv::Mat& image, Bytes& png)
{
    return cv::imencode(".png", image, png);
}

bool encodeOurs(const cv::Mat& image, Bytes& png)
{
    const int threads = std::max(cv::getNumThreads(), 1);
    png.clear();
    const ByteSink sink = [&](const unsigned char* bytes, std::size_t size) {
        png.insert(png.end(), bytes, bytes + size);
        return true;
    };
    return writePng(image, pngRunRows(image.cols), threads, sink).ending == PngWrite::written;
}

double seconds(bool (*encode)(const cv::Mat&, Bytes&), const cv::Mat& image, Bytes& png)
{
    const auto start = std::chrono::steady_clock::now();
    if (!encode(image, png)) {
        std::fprintf(stderr, "encode_compare: a writer failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc == 3 ? std::atoi(argv[2]) : 0;
    if (rounds < 1) {
        std::fprintf(stderr, "usage: encode_compare IMAGE ROUNDS\n");
        return 2;
    }
    const cv::Mat result = flattenIllumination(cv::imread(argv[1], cv::IMREAD_COLOR));
    Bytes library, ours;
    std::vector<double> librarySeconds, ourSeconds;
    for (int round = 0; round < rounds; ++round) {
        librarySeconds.push_back(seconds(encodeDefault, result, library));
        ourSeconds.push_back(seconds(encodeOurs, result, ours));
    }
    if (cv::norm(cv::imdecode(library, cv::IMREAD_UNCHANGED), cv::imdecode(ours, cv::IMREAD_UNCHANGED),
                 cv::NORM_INF) != 0) {
        std::fprintf(stderr, "encode_compare: the two files' pixels differ\n");
        return 1;
    }
    const double libraryTime = median(librarySeconds), ourTime = median(ourSeconds);
    std::printf("  %-16s %7.3f s %11zu bytes\n", "library default", libraryTime, library.size());
    std::printf("  %-16s %7.3f s %11zu bytes   %.2fx as fast, %+.3f %% bytes (%d threads)\n", "lumaLeveller",
                ourTime, ours.size(), libraryTime / ourTime,
                100.0 * (double(ours.size()) - double(library.size())) / double(library.size()),
                std::max(cv::getNumThreads(), 1));
    return 0;
}
