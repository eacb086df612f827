#include "presentation.h"

#include "platform.h"
#include "texts.h"

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>

namespace {

// Long enough for the window to draw before the notice takes the focus.
constexpr int kDrawDelayMs = 50;

// The image alone, at its own size: no tool or status bar, no zooming.
constexpr int kWindowFlags = cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL;

// The largest size with the aspect of `size` (within a pixel) that fits
// `room`, for a `size` larger than `room` in width or height.
cv::Size fittedSize(cv::Size size, cv::Size room)
{
    const std::int64_t widthBound = std::int64_t{size.width} * room.height;
    const std::int64_t heightBound = std::int64_t{size.height} * room.width;
    if (widthBound >= heightBound) {
        // The width is what limits: the rounded height cannot pass room.height.
        return {room.width, std::max(1, static_cast<int>((heightBound + size.width / 2) / size.width))};
    }
    return {std::max(1, static_cast<int>((widthBound + size.height / 2) / size.height)), room.height};
}

// `image` as the window shows it: itself when it fits the room the window
// has on its screen, or when that room cannot be learned; else a copy scaled
// down to fit, with area interpolation, which keeps print legible.
cv::Mat fittedToScreen(const cv::Mat& image)
{
    cv::Size room;
    if (!windowImageRoom(texts::windowName, room.width, room.height) ||
        (image.cols <= room.width && image.rows <= room.height)) {
        return image;
    }
    cv::Mat fitted;
    cv::resize(image, fitted, fittedSize(image.size(), room), 0, 0, cv::INTER_AREA);
    return fitted;
}

} // namespace

void presentResult(const cv::Mat& result)
{
    cv::namedWindow(texts::windowName, kWindowFlags);
    const cv::Mat shown = fittedToScreen(result);
    keepWindowInWorkArea(texts::windowName, shown.cols, shown.rows);
    cv::imshow(texts::windowName, shown);
    cv::waitKey(kDrawDelayMs);
    showNotice(texts::noticeCaption, texts::noticeText);
}
