#include "outcome.h"

#include <opencv2/core.hpp>

#include <new>
#include <sstream>

Outcome failure(ExitStatus exitStatus)
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
    return {ExitStatus::processingFailed, joined};
}

Outcome outOfMemory()
{
    return processingFailure(texts::outOfMemoryReason);
}

Outcome outcomeOf(const std::exception& error, ExitStatus refusal)
{
    if (const auto* openCvError = dynamic_cast<const cv::Exception*>(&error)) {
        if (openCvError->code == cv::Error::StsNoMem || refusal == ExitStatus::processingFailed) {
            return processingFailure(openCvError->err);
        }
        return failure(refusal);
    }
    return dynamic_cast<const std::bad_alloc*>(&error) != nullptr ? outOfMemory() : processingFailure(error.what());
}
