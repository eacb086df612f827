// Writes the program's texts of texts.h to the file named by its argument
// as bash assignments, for the test scripts to source: NAME=$'...', one a
// line, the UTF-8 bytes as they are in texts.h, with the quote, the
// backslash and every byte outside printable ASCII written as \xHH. A
// console text is given without the line feed that ends it. Then the exit
// statuses, status_NAME=N, and all of them in exit_statuses.
#include "texts.h"

#include <cstdio>
#include <string>

namespace {

void assign(std::FILE* file, const char* name, std::string text)
{
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::fprintf(file, "%s=$'", name);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7e || c == '\'' || c == '\\')
            std::fprintf(file, "\\x%02x", byte);
        else
            std::fputc(c, file);
    }
    std::fputs("'\n", file);
}

} // namespace

int main(int argc, char** argv)
{
    std::FILE* file = argc == 2 ? std::fopen(argv[1], "wb") : nullptr;
    if (file == nullptr) {
        std::fputs("usage: shell_texts FILE\n", stderr);
        return 2;
    }
    assign(file, "banner", texts::banner);
    assign(file, "usage", texts::usage);
    assign(file, "read_error", texts::readError);
    assign(file, "write_error", texts::writeError);
    assign(file, "show_error", texts::showError);
    assign(file, "processing_error_prefix", texts::processingErrorPrefix);
    assign(file, "notice_caption", texts::noticeCaption);
    assign(file, "notice_text", texts::noticeText);
    assign(file, "output_name", texts::outputName);
    assign(file, "window_name", texts::windowName);
    const struct {
        const char* name;
        ExitStatus status;
    } statuses[] = {
        {"status_success", ExitStatus::success},
        {"status_unreadable_input", ExitStatus::unreadableInput},
        {"status_not_written", ExitStatus::notWritten},
        {"status_not_shown", ExitStatus::notShown},
        {"status_processing_failed", ExitStatus::processingFailed},
        {"status_wrong_arguments", ExitStatus::wrongArguments},
    };
    std::string all;
    for (const auto& exit : statuses) {
        std::fprintf(file, "%s=%d\n", exit.name, static_cast<int>(exit.status));
        all += (all.empty() ? "" : " ") + std::to_string(static_cast<int>(exit.status));
    }
    std::fprintf(file, "exit_statuses='%s'\n", all.c_str());
    const bool written = std::ferror(file) == 0;
    return std::fclose(file) == 0 && written ? 0 : 1;
}
