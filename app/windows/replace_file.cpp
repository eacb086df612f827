// Windows: the result file is replaced through Win32 calls.
#include "platform.h"

#include <windows.h>

#include <string>

namespace {

// Opens a new, empty temporary file beside `name`, hidden and with a name of
// this process's own so that concurrent runs never share one.
HANDLE createTemporary(const char* name, std::string& temporary)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = "." + std::string(name) + "." + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(attempt) + ".tmp";
        const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

bool writeAll(HANDLE file, const unsigned char* bytes, std::size_t size)
{
    while (size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

} // namespace

bool replaceFile(const char* name, const std::function<bool(const ByteSink&)>& produce)
{
    std::string temporary;
    const HANDLE file = createTemporary(name, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool failed = false;
    const ByteSink sink = [file, &failed](const unsigned char* bytes, std::size_t size) {
        failed = failed || !writeAll(file, bytes, size);
        return !failed;
    };
    const bool written = produce(sink) && !failed && FlushFileBuffers(file);
    const bool closed = CloseHandle(file) != 0;
    if (!written || !closed ||
        !MoveFileExA(temporary.c_str(), name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}
