// Windows: the input file is opened by its UTF-16 name through the wide file
// API, so that any name the file system holds can be read, whatever the
// ANSI code page, and read with one open to its end.
#include "platform.h"
#include "text_encoding.h"

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::size_t kFirstBuffer = std::size_t{1} << 20;

// The errno value for the Win32 error `error`.
int errnoFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

// Reads what `file` holds to its end into `bytes`. The buffer starts one
// byte larger than `expected`, the size a file on disk has, so that such a
// file is read without growing it; it grows by doubling otherwise.
bool readToEnd(HANDLE file, std::vector<unsigned char>& bytes, std::size_t expected)
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
        DWORD got = 0;
        // At most kMaxInputBytes + 1, which a DWORD holds.
        const DWORD wanted = static_cast<DWORD>(bytes.size() - used);
        if (!ReadFile(file, bytes.data() + used, wanted, &got, nullptr)) {
            // The writer of a pipe closing it is the pipe's end.
            if (GetLastError() == ERROR_BROKEN_PIPE) {
                break;
            }
            errno = errnoFor(GetLastError());
            return false;
        }
        if (got == 0) {
            break;
        }
        used += got;
    }
    bytes.resize(used);
    if (used > kMaxInputBytes) {
        errno = EFBIG;
        return false;
    }
    return true;
}

bool readOpenFile(HANDLE file, std::vector<unsigned char>& bytes)
{
    LARGE_INTEGER size{};
    const bool onDisk = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size);
    if (onDisk && static_cast<unsigned long long>(size.QuadPart) > kMaxInputBytes) {
        errno = EFBIG;
        return false;
    }
    return readToEnd(file, bytes, onDisk ? static_cast<std::size_t>(size.QuadPart) : 0);
}

} // namespace

bool readInputFile(const std::string& path, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    // Others may go on reading, writing or deleting the file meanwhile, as
    // they may on Linux.
    const HANDLE file = CreateFileW(toWide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errnoFor(GetLastError());
        return false;
    }
    const bool read = readOpenFile(file, bytes);
    CloseHandle(file);
    if (!read) {
        bytes = std::vector<unsigned char>();
    }
    return read;
}
