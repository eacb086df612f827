#include "outcome.h"

#include <opencv2/core.hpp>

#include <new>
#include <sstream>

Outcome failure(int exitStatus)
{
    return {exitStatus, std::string()};
}

Outcome processingFailure(const std::string& reason)
{
    std::istringstream lines(reason);
    std::string joined;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t first = line.find_first_not_of("> \t\r");
        if (first == std::string::npos) {
            continue;
        }
        const std::size_t last = line.find_last_not_of(" \t\r");
        joined += (joined.empty() ? "" : " ") + line.substr(first, last - first + 1);
    }
    return {status::processingFailed, joined};
}

Outcome outOfMemory()
{
    return processingFailure(texts::outOfMemoryReason);
}

bool isOutOfMemory(const std::exception& error)
{
    const auto* libraryError = dynamic_cast<const cv::Exception*>(&error);
    return libraryError != nullptr ? libraryError->code == cv::Error::StsNoMem
                                   : dynamic_cast<const std::bad_alloc*>(&error) != nullptr;
}

Outcome raised(const std::exception& error)
{
    if (const auto* libraryError = dynamic_cast<const cv::Exception*>(&error)) {
        return processingFailure(libraryError->err);
    }
    return isOutOfMemory(error) ? outOfMemory() : processingFailure(error.what());
}
