#include "window_fit.h"

#include <algorithm>
#include <cstdint>

namespace {

// The nearest value to `at` in [low, high], `low` when the range is empty.
int clampedTo(int at, int low, int high)
{
    return std::max(low, std::min(at, high));
}

} // namespace

cv::Size fittedSize(cv::Size image, const WindowPlace& place)
{
    const cv::Size room(place.areaWidth - place.frameWidth, place.areaHeight - place.frameHeight);
    if (room.width <= 0 || room.height <= 0 || (image.width <= room.width && image.height <= room.height)) {
        return image;
    }
    const std::int64_t widthBound = std::int64_t{image.width} * room.height;
    const std::int64_t heightBound = std::int64_t{image.height} * room.width;
    if (widthBound >= heightBound) {
        // The width is what limits: the rounded height cannot pass room.height.
        return {room.width, std::max(1, static_cast<int>((heightBound + image.width / 2) / image.width))};
    }
    return {std::max(1, static_cast<int>((widthBound + image.height / 2) / image.height)), room.height};
}

cv::Point placeInside(cv::Size shown, const WindowPlace& place)
{
    const int right = place.areaLeft + place.areaWidth - (shown.width + place.frameWidth);
    const int bottom = place.areaTop + place.areaHeight - (shown.height + place.frameHeight);
    return {clampedTo(place.left, place.areaLeft, right), clampedTo(place.top, place.areaTop, bottom)};
}
