// Linux: files through POSIX calls. A new file is created with O_EXCL and
// O_NOFOLLOW, mode 0666 less the umask; SIGXFSZ is ignored from then on, so
// that a file-size limit fails a write with EFBIG instead of killing the
// run. A flush is fsync; a rename is rename(2), which replaces a symbolic
// link rather than writing through it, followed by a sync of the folder so
// that it lasts. A private folder is made with mkdtemp (mode 0700) and
// emptied with getdents64 and unlinkat, which are async-signal-safe.
//
// The input file is opened once. A regular file is then decoded by the
// library's file reader through /proc/self/fd/N of that open file, so that
// a JPEG cut short comes out as the file reader gives it and the file
// decoded is the file opened; the file stays open for that name until
// closeInputFile. A pipe, another file that can be read only once, or any
// file on a system without /proc, is read to its end for the in-memory
// decoder. Character and block devices (/dev/zero, a disk) are refused
// after fstat, unread. Paths are the argument's bytes as given; one longer
// than PATH_MAX fails to open.
#include "platform.h"

#include "read_to_end.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <new>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct OsFile {
    int descriptor;
};

struct PrivateFolder {
    char path[4096];
};

namespace {

PrivateFolder privateFolder;

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

OsFile* createNewFile(const char* name, bool& exists)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const int descriptor = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    exists = descriptor < 0 && errno == EEXIST;
    if (descriptor < 0) {
        return nullptr;
    }
    auto* file = new (std::nothrow) OsFile{descriptor};
    if (file == nullptr) {
        ::close(descriptor);
        ::unlink(name);
    }
    return file;
}

bool writeFile(OsFile* file, const unsigned char* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(file->descriptor, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool flushFile(OsFile* file)
{
    return ::fsync(file->descriptor) == 0;
}

bool closeFile(OsFile* file)
{
    const bool closed = ::close(file->descriptor) == 0;
    delete file;
    return closed;
}

bool renameOver(const char* from, const char* to)
{
    if (::rename(from, to) != 0) {
        return false;
    }
    // Makes the rename itself durable; a failure here does not undo it.
    const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

void removeFile(const char* name)
{
    ::unlink(name);
}

PrivateFolder* makePrivateFolder(const char* within)
{
    const int length = std::snprintf(privateFolder.path, sizeof privateFolder.path, "%s/lumaLeveller.XXXXXX",
                                     within != nullptr ? within : "/tmp");
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof privateFolder.path ||
        ::mkdtemp(privateFolder.path) == nullptr) {
        return nullptr;
    }
    return &privateFolder;
}

const char* folderPath(const PrivateFolder* folder)
{
    return folder->path;
}

void removePrivateFolder(PrivateFolder* folder)
{
    // "." and ".." are listed too; unlinking them fails, harmlessly.
    alignas(dirent64) static char entries[4096];
    const int descriptor = ::open(folder->path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ssize_t got = 0;
    while (descriptor >= 0 && (got = ::getdents64(descriptor, entries, sizeof entries)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            ::unlinkat(descriptor, entry->d_name, 0);
            at += entry->d_reclen;
        }
    }
    if (descriptor >= 0) {
        ::close(descriptor);
    }
    ::rmdir(folder->path);
}

InputFile openInputFile(const std::string& path)
{
    closeInputFile();
    InputFile input{InputFile::unreadable, std::string(), std::vector<unsigned char>()};
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (file < 0 || ::fstat(file, &info) != 0 || S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        if (file >= 0) {
            ::close(file);
        }
        return input;
    }
    input.readerPath = S_ISREG(info.st_mode) ? nameOfOpenFile(file, info) : std::string();
    if (!input.readerPath.empty()) {
        openForReader = file;
        input.status = InputFile::opened;
        return input;
    }
    const auto readFromFile = [file](unsigned char* buffer, std::size_t capacity) {
        return readSome(file, buffer, capacity);
    };
    input.status = readToEnd(readFromFile, input.bytes, S_ISREG(info.st_mode) ? static_cast<std::size_t>(info.st_size) : 0);
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
