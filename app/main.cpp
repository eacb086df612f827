// lumaLeveller: evens out the lighting of a colour photograph.
//
//   lumaLeveller IMAGE
//
// Reads IMAGE, flattens its illumination, writes the result to
// "lumaLeveller.png" in the working directory, shows it and confirms with a
// notice. The exit status tells the outcome (see texts.h).
#include "clean_up.h"
#include "illumination.h"
#include "input.h"
#include "outcome.h"
#include "output.h"
#include "platform.h"
#include "presentation.h"
#include "texts.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace {

ExitStatus usage()
{
    printText(texts::banner);
    printText(texts::usage);
    std::fflush(stdout); // the texts show before the pause, even through a pipe
    std::getchar();
    return ExitStatus::wrongArguments;
}

// Prints the console text of `outcome`, if any, and gives its exit status.
ExitStatus report(const Outcome& outcome)
{
    switch (outcome.status) {
    case ExitStatus::unreadableInput:
        printText(texts::readError);
        break;
    case ExitStatus::notWritten:
        printText(texts::writeError);
        break;
    case ExitStatus::notShown:
        printText(texts::showError);
        break;
    case ExitStatus::processingFailed:
        printText((texts::processingErrorPrefix + outcome.reason + "\n").c_str());
        break;
    default:
        break;
    }
    return outcome.status;
}

// The result takes the input's place: the input is not needed again.
Outcome flatten(cv::Mat& image)
{
    return guarded([&] {
        flattenIlluminationInPlace(image);
        return Outcome{};
    });
}

Outcome run(const std::string& path)
{
    cv::Mat image;
    std::vector<unsigned char> profile;  // the photo's colour profile, kept in the result
    Outcome outcome = readImage(path, image, &profile);
    if (succeeded(outcome)) {
        outcome = flatten(image);
    }
    if (succeeded(outcome)) {
        outcome = saveResult(image, profile);
    }
    if (succeeded(outcome)) {
        outcome = presentResult(image);
    }
    return outcome;
}

} // namespace

int main(int argc, char** argv)
{
    // OpenCV's own warnings on stderr would repeat what the program's
    // texts say; its errors still show.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);

    const std::vector<std::string> arguments = programArguments(argc, argv);
    if (arguments.size() != 1) {
        return static_cast<int>(usage());
    }
    handleInterruptions(removeLeftovers);
    // The steps give back what they meet; this catches what the glue
    // between them may raise (memory running out for a small allocation).
    ExitStatus exitStatus = ExitStatus::success;
    try {
        exitStatus = report(run(arguments[0]));
    } catch (const std::exception& error) {
        exitStatus = report(outcomeOf(error));
    }
    // Every other outcome has printed its text, which a console of the
    // program's own would take away with it.
    if (exitStatus != ExitStatus::success) {
        waitOnOwnConsole();
    }
    return static_cast<int>(exitStatus);
}
