// make_sample: draws the bundled sample photograph and its before/after view.
//
//   make_sample FOLDER
//
// Draws a photo-like page (textured warm paper, printed text, a red
// underline, a blue diagram and a green stamp) lit by a light gradient and
// partly covered by a broad, soft shadow, and writes into FOLDER:
//   page.jpg          the sample photograph;
//   before_after.jpg  the sample and its flattened result side by side.
// The drawing uses a fixed random seed, so every run writes the same
// images. From the top of the source tree, after a build:
//
//   build/samples/make_sample samples
#include "illumination.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const cv::Size kPageSize(1200, 900);
const int kSideBySideWidth = 1200;
const int kSeparatorWidth = 6;
const int kJpegQuality = 85;
const cv::Scalar kInk(28, 25, 24);

// Warm off-white paper: a flat colour with faint large blotches and fine
// grain, so the page does not look computer-made.
cv::Mat drawPaper(cv::RNG& rng)
{
    cv::Mat paper(kPageSize, CV_32FC3, cv::Scalar(214, 228, 238));

    cv::Mat blotches(kPageSize.height / 30, kPageSize.width / 30, CV_32FC1);
    rng.fill(blotches, cv::RNG::NORMAL, 0.0, 3.0);
    cv::resize(blotches, blotches, kPageSize, 0.0, 0.0, cv::INTER_CUBIC);

    cv::Mat grain(kPageSize, CV_32FC1);
    rng.fill(grain, cv::RNG::NORMAL, 0.0, 2.0);
    cv::GaussianBlur(grain, grain, cv::Size(3, 3), 0.7);

    cv::Mat texture = blotches + grain;
    cv::Mat texture3;
    cv::merge(std::vector<cv::Mat>{texture, texture, texture}, texture3);
    paper += texture3;

    cv::Mat page;
    paper.convertTo(page, CV_8UC3);
    return page;
}

void drawText(cv::Mat& page)
{
    const std::vector<std::string> paragraph = {
        "A page photographed under a desk lamp is rarely lit evenly.",
        "One corner is bright, another falls into the shadow of a hand,",
        "and the paper drifts from white to grey across the picture.",
        "Evening out the light keeps the print dark and crisp while the",
        "paper everywhere returns to the same clean, bright tone, so the",
        "page reads as if it had been scanned on a flat bed.",
    };
    cv::putText(page, "Evening Out the Light", cv::Point(90, 130), cv::FONT_HERSHEY_DUPLEX, 1.9, kInk, 4,
                cv::LINE_AA);
    int y = 230;
    for (const std::string& line : paragraph) {
        cv::putText(page, line, cv::Point(90, y), cv::FONT_HERSHEY_SIMPLEX, 1.05, kInk, 2, cv::LINE_AA);
        y += 52;
    }
}

// A red pen underline under the heading, slightly wavy like a hand stroke.
void drawUnderline(cv::Mat& page)
{
    std::vector<cv::Point> stroke;
    for (int x = 88; x <= 700; x += 12) {
        const double wave = 3.0 * std::sin(x / 45.0);
        stroke.emplace_back(x, 152 + static_cast<int>(wave) + (x - 88) / 120);
    }
    cv::polylines(page, stroke, false, cv::Scalar(40, 40, 200), 4, cv::LINE_AA);
}

// A small blue diagram: a lamp above a page, with light rays falling on it.
void drawDiagram(cv::Mat& page)
{
    const cv::Scalar blue(170, 90, 30);
    const cv::Point lamp(300, 600);
    cv::circle(page, lamp, 28, blue, 3, cv::LINE_AA);
    cv::line(page, cv::Point(120, 800), cv::Point(480, 800), blue, 3, cv::LINE_AA);
    for (int x = 160; x <= 440; x += 70) {
        cv::arrowedLine(page, lamp + cv::Point(0, 30), cv::Point(x, 790), blue, 2, cv::LINE_AA, 0, 0.06);
    }
    cv::putText(page, "lamp", lamp + cv::Point(40, 8), cv::FONT_HERSHEY_SIMPLEX, 0.8, blue, 2, cv::LINE_AA);
    cv::putText(page, "page", cv::Point(490, 808), cv::FONT_HERSHEY_SIMPLEX, 0.8, blue, 2, cv::LINE_AA);
}

// A green rubber stamp: two rings and a word, its ink uneven.
void drawStamp(cv::Mat& page, cv::RNG& rng)
{
    cv::Mat stamp = cv::Mat::zeros(kPageSize, CV_8UC1);
    const cv::Point centre(930, 690);
    cv::circle(stamp, centre, 110, cv::Scalar(255), 5, cv::LINE_AA);
    cv::circle(stamp, centre, 92, cv::Scalar(255), 2, cv::LINE_AA);
    cv::ellipse(stamp, centre, cv::Size(70, 70), 0.0, 200.0, 340.0, cv::Scalar(255), 2, cv::LINE_AA);
    cv::putText(stamp, "CHECKED", centre + cv::Point(-78, 12), cv::FONT_HERSHEY_DUPLEX, 1.0, cv::Scalar(255), 3,
                cv::LINE_AA);

    cv::Mat patchy(kPageSize.height / 6, kPageSize.width / 6, CV_8UC1);
    rng.fill(patchy, cv::RNG::UNIFORM, 150, 256);
    cv::resize(patchy, patchy, kPageSize, 0.0, 0.0, cv::INTER_LINEAR);
    cv::multiply(stamp, patchy, stamp, 1.0 / 255.0);

    cv::Mat green(kPageSize, CV_8UC3, cv::Scalar(70, 140, 40));
    cv::Mat alpha;
    cv::cvtColor(stamp, alpha, cv::COLOR_GRAY2BGR);
    cv::Mat inked;
    cv::multiply(green, alpha, inked, 1.0 / 255.0);
    cv::Mat kept;
    cv::multiply(page, cv::Scalar::all(255) - alpha, kept, 1.0 / 255.0);
    page = kept + inked;
}

// The light falling on the page as a gain per pixel: a gentle falloff from
// the top right to the bottom left, and a broad soft shadow (as of a hand
// or the lamp's arm) over the lower left of the page.
cv::Mat drawLighting()
{
    cv::Mat gain(kPageSize, CV_32FC1);
    for (int y = 0; y < gain.rows; ++y) {
        float* row = gain.ptr<float>(y);
        for (int x = 0; x < gain.cols; ++x) {
            const float fromCorner = (static_cast<float>(kPageSize.width - x) / kPageSize.width +
                                      static_cast<float>(y) / kPageSize.height) / 2.0f;
            row[x] = 1.05f - 0.22f * fromCorner;
        }
    }

    cv::Mat shadow = cv::Mat::zeros(kPageSize, CV_32FC1);
    cv::ellipse(shadow, cv::Point(240, 820), cv::Size(520, 300), -30.0, 0.0, 360.0, cv::Scalar(1.0), cv::FILLED);
    cv::ellipse(shadow, cv::Point(640, 900), cv::Size(180, 260), 10.0, 0.0, 360.0, cv::Scalar(1.0), cv::FILLED);
    cv::GaussianBlur(shadow, shadow, cv::Size(0, 0), 70.0);
    gain = gain.mul(1.0f - 0.42f * shadow);
    return gain;
}

// Light the page, soften it slightly like a camera lens, add sensor noise.
cv::Mat photograph(const cv::Mat& page, const cv::Mat& gain, cv::RNG& rng)
{
    cv::Mat lit;
    page.convertTo(lit, CV_32FC3);
    cv::Mat gain3;
    cv::merge(std::vector<cv::Mat>{gain, gain, gain}, gain3);
    lit = lit.mul(gain3);
    cv::GaussianBlur(lit, lit, cv::Size(3, 3), 0.6);

    cv::Mat noise(kPageSize, CV_32FC3);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, 1.5);
    lit += noise;

    cv::Mat photo;
    lit.convertTo(photo, CV_8UC3);
    return photo;
}

cv::Mat drawSample()
{
    cv::RNG rng(20240611);
    cv::Mat page = drawPaper(rng);
    drawText(page);
    drawUnderline(page);
    drawDiagram(page);
    drawStamp(page, rng);
    return photograph(page, drawLighting(), rng);
}

// The sample and its result next to each other, split by a thin grey bar and
// scaled down to the width of a README page.
cv::Mat drawBeforeAfter(const cv::Mat& before, const cv::Mat& after)
{
    const cv::Mat separator(before.rows, kSeparatorWidth, CV_8UC3, cv::Scalar::all(90));
    cv::Mat both;
    cv::hconcat(std::vector<cv::Mat>{before, separator, after}, both);
    const double scale = static_cast<double>(kSideBySideWidth) / both.cols;
    cv::Mat small;
    cv::resize(both, small, cv::Size(), scale, scale, cv::INTER_AREA);
    return small;
}

bool writeJpeg(const std::string& path, const cv::Mat& image)
{
    const std::vector<int> parameters = {cv::IMWRITE_JPEG_QUALITY, kJpegQuality};
    if (!cv::imwrite(path, image, parameters)) {
        std::fprintf(stderr, "make_sample: could not write %s\n", path.c_str());
        return false;
    }
    std::printf("wrote %s (%dx%d)\n", path.c_str(), image.cols, image.rows);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    try {
        const cv::Mat sample = drawSample();
        const cv::Mat beforeAfter = drawBeforeAfter(sample, flattenIllumination(sample));
        const bool written = writeJpeg(folder + "/page.jpg", sample) &&
                             writeJpeg(folder + "/before_after.jpg", beforeAfter);
        return written ? 0 : 1;
    } catch (const cv::Exception& error) {
        std::fprintf(stderr, "make_sample: %s\n", error.what());
        return 1;
    }
}
