// Linux: the input file is read with one open, so that a pipe or another
// file that can be read only once is decoded like a regular one.
#include "platform.h"
#include "read_to_end.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

bool readOpenFile(int file, std::vector<unsigned char>& bytes)
{
    struct stat info {};
    if (::fstat(file, &info) != 0) {
        return false;
    }
    const bool regular = S_ISREG(info.st_mode);
    const auto readFromFile = [file](unsigned char* buffer, std::size_t capacity) {
        return readSome(file, buffer, capacity);
    };
    return readToEnd(readFromFile, bytes, regular ? static_cast<std::size_t>(info.st_size) : 0);
}

} // namespace

bool readInputFile(const std::string& path, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return false;
    }
    const bool read = readOpenFile(file, bytes);
    const int readError = errno;
    ::close(file);
    errno = readError;
    if (!read) {
        bytes = std::vector<unsigned char>();
    }
    return read;
}
