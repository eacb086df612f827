// Windows: files through Win32 calls. A new file is created with
// CREATE_NEW, sharing only deletion (so that the interruption handler can
// remove it while it is written). A flush is FlushFileBuffers; a rename is
// MoveFileEx (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), which
// replaces a symbolic link rather than writing through it. A read-only file
// or a folder of that name is never replaced (Windows refuses the first,
// Wine would not). Another process holds the file (it has it open without
// sharing deletion: a virus scanner, an image viewer) when the rename fails
// with a sharing violation or denied access. Creations, renames and
// removals of files and folders hold a slim reader/writer lock, which the
// interruption handler takes for good (files.h). Folders are named in the ANSI code page, in
// which OpenCV reads paths; the folder for temporary files is the
// user's, when that code page holds its path. A folder is not removed while
// a file in it is held open (by the decoder, when an interruption runs
// while the decoding goes on).
//
// An input file is opened by its UTF-16 name through the wide file API, so
// that any name the file system holds can be opened, whatever the ANSI code
// page, and a path of MAX_PATH characters or more too (in the \\?\ form).
// cv::imread opens files by ANSI names of fewer than MAX_PATH characters: the
// name it is given is the path as given, else the file's short (8.3) name,
// when the ANSI code page holds it exactly, it is shorter than MAX_PATH and
// it opens the very file opened; an OpenEXR file gets an ASCII name only,
// since OpenEXR's reader takes names as UTF-8. A console, NUL, a serial port
// or a disk opened whole is a device.
#include "platform.h"

#include "files.h"
#include "text_encoding.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>

struct OsFile {
    HANDLE handle;
    std::wstring given, full, opened;  // an input's path as given, in full and as opened
};

namespace {

SRWLOCK changes = SRWLOCK_INIT;
std::atomic<DWORD> changesHeldBy{0};

// A file in the folder being removed: the folder's path, a separator and
// a name found in it.
char entryPath[2 * MAX_PATH + 2];

// Keep other threads from making, renaming and removing files meanwhile;
// nothing for the thread that holds that for good.
void lockChanges()
{
    if (changesHeldBy != GetCurrentThreadId()) {
        AcquireSRWLockExclusive(&changes);
    }
}

void unlockChanges()
{
    if (changesHeldBy != GetCurrentThreadId()) {
        ReleaseSRWLockExclusive(&changes);
    }
}

// Removes the files that lie directly in the folder `path`, as far as
// nothing holds them open.
void removeFilesIn(const char* path)
{
    const std::size_t length = std::strlen(path);
    if (length + 2 + MAX_PATH > sizeof entryPath) {
        return;
    }
    std::memcpy(entryPath, path, length);
    std::memcpy(entryPath + length, "\\*", 3);
    WIN32_FIND_DATAA entry;
    const HANDLE found = FindFirstFileA(entryPath, &entry);
    if (found == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            std::memcpy(entryPath + length + 1, entry.cFileName, std::strlen(entry.cFileName) + 1);
            DeleteFileA(entryPath);
        }
    } while (FindNextFileA(found, &entry));
    FindClose(found);
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
    std::wstring path(ask(nullptr, 0), L'\0');
    const DWORD length = path.empty() ? 0 : ask(&path[0], static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
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
    return std::all_of(name.begin(), name.end(), [](wchar_t character) { return character <= 0x7f; });
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

} // namespace

void holdFileChanges()
{
    AcquireSRWLockExclusive(&changes);
    changesHeldBy = GetCurrentThreadId();
}

OsFile* createNewFile(const char* name, bool& exists)
{
    lockChanges();
    const HANDLE handle =
        CreateFileA(name, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    exists = handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
    unlockChanges();
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto* file = new (std::nothrow) OsFile{handle, {}, {}, {}};
    if (file == nullptr) {
        CloseHandle(handle);
        removeFile(name);
    }
    return file;
}

long long writeFile(OsFile* file, const unsigned char* bytes, std::size_t size)
{
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000));
    DWORD written = 0;
    return WriteFile(file->handle, bytes, chunk, &written, nullptr) ? written : -1;
}

bool flushFile(OsFile* file)
{
    return FlushFileBuffers(file->handle) != 0;
}

bool closeFile(OsFile* file)
{
    const bool closed = CloseHandle(file->handle) != 0;
    delete file;
    return closed;
}

bool renameOver(const char* from, const char* to, bool& held)
{
    held = false;
    const DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return false;
    }
    lockChanges();
    const bool renamed = MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    const DWORD error = GetLastError();
    unlockChanges();
    held = !renamed && (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED);
    return renamed;
}

void removeFile(const char* name)
{
    lockChanges();
    DeleteFileA(name);
    unlockChanges();
}

std::string temporaryFolder()
{
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, path);  // with a final separator
    std::string ansi;
    const bool inCodePage =
        length > 1 && length <= MAX_PATH && toCodePageExactly(std::wstring(path, length - 1), CP_ACP, ansi);
    return inCodePage ? ansi : std::string();
}

bool makeFolder(const char* path, bool& exists)
{
    lockChanges();
    const bool made = CreateDirectoryA(path, nullptr) != 0;
    exists = !made && GetLastError() == ERROR_ALREADY_EXISTS;
    unlockChanges();
    return made;
}

bool removeFolder(const char* path)
{
    lockChanges();
    removeFilesIn(path);
    const bool removed = RemoveDirectoryA(path) != 0;
    const DWORD error = GetLastError();
    unlockChanges();
    return removed || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

OsFile* openForReading(const std::string& path, FileKind& kind, std::size_t& size)
{
    const std::wstring wide = toWide(path);
    const std::wstring full = fullPath(wide);
    const std::wstring opened = full.empty() ? wide : openableForm(full);
    const HANDLE handle = CreateFileW(opened.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // A disk or volume opened whole is a disk "file" without a file size.
    const DWORD type = GetFileType(handle);
    LARGE_INTEGER fileSize{};
    const bool onDisk = type == FILE_TYPE_DISK && GetFileSizeEx(handle, &fileSize);
    kind = onDisk ? FileKind::regular : type == FILE_TYPE_CHAR || type == FILE_TYPE_DISK ? FileKind::device
                                                                                       : FileKind::stream;
    size = onDisk ? static_cast<std::size_t>(fileSize.QuadPart) : 0;
    auto* file = new (std::nothrow) OsFile{handle, wide, full, opened};
    if (file == nullptr) {
        CloseHandle(handle);
    }
    return file;
}

long long readFile(OsFile* file, unsigned char* buffer, std::size_t capacity)
{
    DWORD got = 0;
    // The input is read in at most INT_MAX + 1 bytes, which a DWORD holds.
    if (ReadFile(file->handle, buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
        return got;
    }
    // The writer of a pipe closing it is the pipe's end.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

// The path as given when its full path is shorter than MAX_PATH, else the
// file's short name, when the ANSI code page holds it exactly and it opens
// that same file, in that code page. ASCII names come first. OpenEXR's reader
// takes its names as UTF-8, the others as ANSI: an OpenEXR file is given an
// ASCII name only, else it is decoded from memory. Empty when there is none.
std::string readerName(OsFile* file)
{
    const std::wstring given = file->full.size() < MAX_PATH ? file->given : std::wstring();
    const std::wstring shortened = plainForm(shortName(file->opened));
    const std::wstring candidates[] = {given, shortened};
    const bool asciiNamesOnly = isOpenExr(file->handle);
    std::string ansi;
    for (const bool asciiOnly : {true, false}) {
        if (!asciiOnly && asciiNamesOnly) {
            break;
        }
        for (const std::wstring& name : candidates) {
            if (name.size() < MAX_PATH && (!asciiOnly || isAscii(name)) &&
                toCodePageExactly(name, CP_ACP, ansi) && namesOpenFile(ansi, file->handle)) {
                return ansi;
            }
        }
    }
    return std::string();
}
