// Windows: the input file is opened once by its UTF-16 name through the wide
// file API, so that any name the file system holds can be opened, whatever
// the ANSI code page, and a path of MAX_PATH characters or more too (in the
// \\?\ form). The library's file reader opens files by ANSI names of fewer
// than MAX_PATH characters: a file on disk that has such a name is decoded
// by it, so that a JPEG cut short comes out as the file reader gives it;
// anything else is read to its end for the in-memory decoder. That name is
// the path as given, else the file's short (8.3) name, when the ANSI code
// page holds it exactly, it is shorter than MAX_PATH and it opens the very
// file opened; an OpenEXR file gets an ASCII name only, since its reader
// takes names as UTF-8. A console, NUL, a serial port or a disk opened
// whole is a device, refused unread.
#include "platform.h"

#include "read_to_end.h"
#include "text_encoding.h"

#include <cstring>
#include <cwchar>

namespace {

// Reads from `file` into `buffer`; the writer of a pipe closing it is the
// pipe's end.
long long readSome(HANDLE file, unsigned char* buffer, std::size_t capacity)
{
    DWORD got = 0;
    // readToEnd asks for at most kMaxInputBytes + 1, which a DWORD holds.
    if (ReadFile(file, buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
        return got;
    }
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

InputFile::Status readOpenFile(HANDLE file, long long size, std::vector<unsigned char>& bytes)
{
    const auto readFromFile = [file](unsigned char* buffer, std::size_t capacity) {
        return readSome(file, buffer, capacity);
    };
    return readToEnd(readFromFile, bytes, static_cast<std::size_t>(size));
}

bool startsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// What the Win32 path call `ask(buffer, capacity)` gives: such a call
// returns the capacity it needs, with its terminating null, when the buffer
// is too small (or none), the length it wrote otherwise, and 0 when it
// fails. Empty when it fails.
template <typename Ask>
std::wstring askForPath(Ask ask)
{
    const DWORD capacity = ask(nullptr, 0);
    if (capacity == 0) {
        return std::wstring();
    }
    std::wstring path(capacity, L'\0');
    const DWORD length = ask(&path[0], capacity);
    if (length == 0 || length >= capacity) {
        return std::wstring();
    }
    path.resize(length);
    return path;
}

// The full path of `path` as the system resolves it; empty when it cannot.
std::wstring fullPath(const std::wstring& path)
{
    return askForPath([&](wchar_t* buffer, DWORD capacity) {
        return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
    });
}

// The full path `full` as the wide file API takes it on every Windows: as
// it is when shorter than MAX_PATH, else in the \\?\ form, which takes up to
// 32767 characters without the system's long path setting.
std::wstring openableForm(const std::wstring& full)
{
    if (full.size() < MAX_PATH || startsWith(full, L"\\\\?\\") || startsWith(full, L"\\\\.\\")) {
        return full;
    }
    if (startsWith(full, L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
    }
    return L"\\\\?\\" + full;
}

// `name` without the \\?\ form.
std::wstring plainForm(const std::wstring& name)
{
    if (startsWith(name, L"\\\\?\\UNC\\")) {
        return L"\\\\" + name.substr(8);
    }
    if (startsWith(name, L"\\\\?\\")) {
        return name.substr(4);
    }
    return name;
}

// The short (8.3) name of the file `name`; `name` itself when it has none
// (on volumes that make no short names), empty when it cannot be had.
std::wstring shortName(const std::wstring& name)
{
    return askForPath([&](wchar_t* buffer, DWORD capacity) {
        return GetShortPathNameW(name.c_str(), buffer, capacity);
    });
}

// Whether the ANSI name `name`, opened as the C runtime opens it, is the
// file open as `file` (the same volume and file index): a short name could
// be taken for another file's.
bool namesOpenFile(const std::string& name, HANDLE file)
{
    const HANDLE named = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION opened{}, found{};
    const bool same = GetFileInformationByHandle(file, &opened) && GetFileInformationByHandle(named, &found) &&
                      opened.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
                      opened.nFileIndexHigh == found.nFileIndexHigh && opened.nFileIndexLow == found.nFileIndexLow;
    CloseHandle(named);
    return same;
}

bool isAscii(const std::wstring& name)
{
    for (const wchar_t character : name) {
        if (character > 0x7f) {
            return false;
        }
    }
    return true;
}

// Whether the file open as `file` begins as an OpenEXR file does; the file
// is then read from its start again.
bool isOpenExr(HANDLE file)
{
    constexpr unsigned char kMagic[] = {0x76, 0x2f, 0x31, 0x01};
    unsigned char start[sizeof kMagic] = {};
    DWORD got = 0;
    const bool read = ReadFile(file, start, sizeof start, &got, nullptr) && got == sizeof start;
    SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN);
    return read && std::memcmp(start, kMagic, sizeof kMagic) == 0;
}

// A name by which the library's file reader opens the file at `path` (full
// path `full`, open by the name `opened` as `file`): `path` itself when its
// full path is shorter than MAX_PATH, else the file's short name, when the
// ANSI code page holds it exactly and it opens that same file, in that code
// page. ASCII names come first. The OpenEXR reader takes its names as UTF-8,
// the others as ANSI: an OpenEXR file is given an ASCII name only, else it
// is decoded from memory. Empty when there is none.
std::string readerName(const std::wstring& path, const std::wstring& full, const std::wstring& opened, HANDLE file)
{
    const std::wstring given = full.size() < MAX_PATH ? path : std::wstring();
    const std::wstring shortened = plainForm(shortName(opened));
    const std::wstring candidates[] = {given, shortened};
    const bool asciiNamesOnly = isOpenExr(file);
    std::string ansi;
    for (const bool asciiOnly : {true, false}) {
        if (!asciiOnly && asciiNamesOnly) {
            break;
        }
        for (const std::wstring& name : candidates) {
            if (name.size() < MAX_PATH && (!asciiOnly || isAscii(name)) &&
                toCodePageExactly(name, CP_ACP, ansi) && namesOpenFile(ansi, file)) {
                return ansi;
            }
        }
    }
    return std::string();
}

} // namespace

InputFile openInputFile(const std::string& path)
{
    InputFile input{InputFile::unreadable, std::string(), std::vector<unsigned char>()};
    const std::wstring wide = toWide(path);
    const std::wstring full = fullPath(wide);
    const std::wstring opened = full.empty() ? wide : openableForm(full);
    // Others may go on reading, writing or deleting the file meanwhile, as
    // they may on Linux.
    const HANDLE file = CreateFileW(opened.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return input;
    }
    // A console, NUL or a serial port, or a disk or volume opened whole (a
    // disk "file" without a file size), is a device: not read.
    const DWORD type = GetFileType(file);
    LARGE_INTEGER size{};
    const bool onDisk = type == FILE_TYPE_DISK && GetFileSizeEx(file, &size);
    if (type != FILE_TYPE_CHAR && (type != FILE_TYPE_DISK || onDisk)) {
        input.readerPath = onDisk ? readerName(wide, full, opened, file) : std::string();
        input.status = !input.readerPath.empty() ? InputFile::opened
                                                 : readOpenFile(file, onDisk ? size.QuadPart : 0, input.bytes);
    }
    CloseHandle(file);
    return input;
}

void closeInputFile()
{
    // The file reader opens the file by its name: nothing is held open.
}
