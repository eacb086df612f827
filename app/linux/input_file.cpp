// Linux: the input file is opened once. A regular file is then decoded by
// the library's file reader through /proc/self/fd/N of that open file, so
// that a JPEG cut short comes out as the file reader gives it and the file
// decoded is the file opened; the file stays open for that name until
// closeInputFile. A pipe, another file that can be read only once, or any
// file on a system without /proc, is read to its end for the in-memory
// decoder. Character and block devices (/dev/zero, a disk) are refused
// after fstat, unread. Paths are the argument's bytes as given; one longer
// than PATH_MAX fails to open.
#include "platform.h"

#include "read_to_end.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The input while the library's file reader opens it by its /proc name.
int openForReader = -1;

// Reads from `file` into `buffer`, again when a signal interrupts the
// call.
long long readSome(int file, unsigned char* buffer, std::size_t capacity)
{
    ssize_t got = 0;
    do {
        got = ::read(file, buffer, capacity);
    } while (got < 0 && errno == EINTR);
    return got;
}

InputFile::Status readOpenFile(int file, const struct stat& info, std::vector<unsigned char>& bytes)
{
    const bool regular = S_ISREG(info.st_mode);
    const auto readFromFile = [file](unsigned char* buffer, std::size_t capacity) {
        return readSome(file, buffer, capacity);
    };
    return readToEnd(readFromFile, bytes, regular ? static_cast<std::size_t>(info.st_size) : 0);
}

// The name by which opening again gives the file open as `file` (whose
// status is `info`): its /proc/self/fd entry. Empty when that does not name
// the file (no /proc mounted, say).
std::string nameOfOpenFile(int file, const struct stat& info)
{
    const std::string name = "/proc/self/fd/" + std::to_string(file);
    struct stat named {};
    if (::stat(name.c_str(), &named) != 0 || named.st_dev != info.st_dev || named.st_ino != info.st_ino) {
        return std::string();
    }
    return name;
}

} // namespace

InputFile openInputFile(const std::string& path)
{
    closeInputFile();
    InputFile input{InputFile::unreadable, std::string(), std::vector<unsigned char>()};
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return input;
    }
    struct stat info {};
    if (::fstat(file, &info) != 0 || S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        ::close(file);
        return input;
    }
    if (S_ISREG(info.st_mode)) {
        input.readerPath = nameOfOpenFile(file, info);
        if (!input.readerPath.empty()) {
            openForReader = file;
            input.status = InputFile::opened;
            return input;
        }
    }
    input.status = readOpenFile(file, info, input.bytes);
    ::close(file);
    return input;
}

void closeInputFile()
{
    if (openForReader >= 0) {
        ::close(openForReader);
        openForReader = -1;
    }
}
