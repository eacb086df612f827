// Windows: the input file is opened by its UTF-16 name through the wide file
// API, so that any name the file system holds can be read, whatever the
// ANSI code page, and read with one open to its end.
#include "platform.h"
#include "read_to_end.h"
#include "text_encoding.h"

#include <cerrno>

namespace {

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

// Reads from `file` into `buffer`; the writer of a pipe closing it is the
// pipe's end.
long long readSome(HANDLE file, unsigned char* buffer, std::size_t capacity)
{
    DWORD got = 0;
    // readToEnd asks for at most kMaxInputBytes + 1, which a DWORD holds.
    if (ReadFile(file, buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
        return got;
    }
    if (GetLastError() == ERROR_BROKEN_PIPE) {
        return 0;
    }
    errno = errnoFor(GetLastError());
    return -1;
}

bool readOpenFile(HANDLE file, std::vector<unsigned char>& bytes)
{
    LARGE_INTEGER size{};
    const bool onDisk = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size);
    const auto readFromFile = [file](unsigned char* buffer, std::size_t capacity) {
        return readSome(file, buffer, capacity);
    };
    return readToEnd(readFromFile, bytes, onDisk ? static_cast<std::size_t>(size.QuadPart) : 0);
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
