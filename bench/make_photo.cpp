// make_photo: writes a generated photo-like JPEG for the comparison runs.
//
//   make_photo WIDTH HEIGHT FILE
//
// The picture is drawPhoto's (photo.h) at WIDTH x HEIGHT, saved at JPEG
// quality 90; the same arguments always give the same file.
#include "photo.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_photo WIDTH HEIGHT FILE\n");
        return 2;
    }
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    if (width < 64 || height < 64) {
        std::fprintf(stderr, "make_photo: the picture is at least 64x64\n");
        return 2;
    }
    const std::vector<int> quality = {cv::IMWRITE_JPEG_QUALITY, 90};
    if (!cv::imwrite(argv[3], drawPhoto(cv::Size(width, height)), quality)) {
        std::fprintf(stderr, "make_photo: could not write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
