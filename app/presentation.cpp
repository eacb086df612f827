#include "presentation.h"

#include "platform.h"
#include "texts.h"

#include <opencv2/highgui.hpp>

namespace {

// Long enough for the window to draw before the notice takes the focus.
constexpr int kDrawDelayMs = 50;

} // namespace

void presentResult(const cv::Mat& result)
{
    cv::imshow(texts::windowName, result);
    cv::waitKey(kDrawDelayMs);
    showNotice(texts::noticeCaption, texts::noticeText);
}
