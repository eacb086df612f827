// Linux: the input file is read with one open, so that a pipe or another
// file that can be read only once is decoded like a regular one.
#include "platform.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kFirstBuffer = std::size_t{1} << 20;

// Reads what `file` holds to its end into `bytes`. The buffer starts one
// byte larger than `expected`, the size a regular file has, so that such a
// file is read without growing it; it grows by doubling otherwise.
bool readToEnd(int file, std::vector<unsigned char>& bytes, std::size_t expected)
{
    std::size_t used = 0;
    bytes.resize(std::max(expected + 1, kFirstBuffer));
    for (;;) {
        if (used == bytes.size()) {
            if (used > kMaxInputBytes) {
                errno = EFBIG;
                return false;
            }
            bytes.resize(std::min(2 * used, kMaxInputBytes + 1));
        }
        const ssize_t got = ::read(file, bytes.data() + used, bytes.size() - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    bytes.resize(used);
    if (used > kMaxInputBytes) {
        errno = EFBIG;
        return false;
    }
    return true;
}

bool readOpenFile(int file, std::vector<unsigned char>& bytes)
{
    struct stat info {};
    if (::fstat(file, &info) != 0) {
        return false;
    }
    const bool regular = S_ISREG(info.st_mode);
    if (regular && static_cast<unsigned long long>(info.st_size) > kMaxInputBytes) {
        errno = EFBIG;
        return false;
    }
    return readToEnd(file, bytes, regular ? static_cast<std::size_t>(info.st_size) : 0);
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
