// Every text the user sees, every fixed name and every exit status of
// lumaLeveller, in one place. Texts are UTF-8 here; printText converts them
// for consoles that use another encoding.
#pragma once

namespace texts {

// Console texts. puts appends one more line feed, so each is followed by an
// empty line on the console.
constexpr const char* banner =
    "LumaclearApp  By Lumaclear开发组    Lumaclear社区 https://lumaclear.example.org\n";
constexpr const char* usage = "Usage: lumaLeveller  image\n";
constexpr const char* readError = "Error: Could not open or find the image.\n";
constexpr const char* writeError = "Error: Could not write the result to lumaLeveller.png.\n";
constexpr const char* showError =
    "Error: Could not show the result window; the result was saved as lumaLeveller.png.\n";
// Followed by the reason, on one line, and a line feed.
constexpr const char* processingErrorPrefix = "Error: Could not process the image: ";
constexpr const char* outOfMemoryReason = "out of memory";

// The completion notice.
constexpr const char* noticeCaption = "LumaclearApp  By Lumaclear开发组";
constexpr const char* noticeText =
    "Lumaclear操作完成，感谢您的试用!\n原创软件->Lumaclear社区 https://lumaclear.example.org";

// The result file, relative to the working directory, and the window that
// shows it.
constexpr const char* outputName = "lumaLeveller.png";
constexpr const char* windowName = "lumaLeveller.png";

} // namespace texts

// The exit statuses, one for each way a run ends.
enum class ExitStatus {
    success = 0,
    unreadableInput = 1,
    notWritten = 2,
    notShown = 3,
    processingFailed = 4,
    wrongArguments = 8,
};
