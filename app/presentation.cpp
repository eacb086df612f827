#include "presentation.h"

#include "platform.h"
#include "texts.h"
#include "window_fit.h"

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// Long enough for the window to draw before the notice takes the focus.
constexpr int kDrawDelayMs = 50;

// The image alone, at its own size: no tool or status bar, no zooming.
constexpr int kWindowFlags = cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL;

// `image` as the window shows it, with the window moved inside its work
// area: itself, or a copy scaled down to fit with area interpolation, which
// keeps print legible.
cv::Mat placedToFit(const cv::Mat& image)
{
    WindowPlace place{};
    if (!measureWindow(texts::windowName, place)) {
        return image;
    }
    cv::Mat shown = image;
    const cv::Size fitted = fittedSize(image.size(), place);
    if (fitted != image.size()) {
        cv::resize(image, shown, fitted, 0, 0, cv::INTER_AREA);
    }
    const cv::Point inside = placeInside(shown.size(), place);
    if (inside != cv::Point(place.left, place.top)) {
        moveWindow(texts::windowName, inside.x, inside.y);
    }
    return shown;
}

// Returns whether the notice was shown and dismissed.
bool show(const cv::Mat& result)
{
    cv::namedWindow(texts::windowName, kWindowFlags);
    cv::imshow(texts::windowName, placedToFit(result));
    cv::waitKey(kDrawDelayMs);
    return showNotice(texts::noticeCaption, texts::noticeText);
}

} // namespace

Outcome presentResult(const cv::Mat& result)
{
    exitOnDisplayFailure(texts::showError, static_cast<int>(ExitStatus::notShown));
    return guarded([&] { return show(result) ? Outcome{} : failure(ExitStatus::notShown); }, ExitStatus::notShown);
}
