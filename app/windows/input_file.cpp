// Windows: the input file is read through the wide file API.
#include "platform.h"
#include "text_encoding.h"

#include <cerrno>

bool readInputFile(const std::string& path, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    const HANDLE file = CreateFileW(toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ENOENT;
        return false;
    }
    LARGE_INTEGER size{};
    bool read = GetFileSizeEx(file, &size) && static_cast<unsigned long long>(size.QuadPart) <= kMaxInputBytes;
    if (read) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD got = 0;
        read = bytes.empty() || (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                                 got == bytes.size());
    }
    CloseHandle(file);
    if (!read) {
        bytes.clear();
        errno = EIO;
    }
    return read;
}
