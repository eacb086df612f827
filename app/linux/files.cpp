// Linux: files through POSIX calls. A new file is created with O_EXCL and
// O_NOFOLLOW, mode 0666 less the umask; SIGXFSZ is ignored from then on, so
// that a file-size limit fails a write with EFBIG instead of killing the run.
// A flush is fsync; a rename is rename(2), which replaces a symbolic link
// rather than writing through it, followed by a sync of the folder so that it
// lasts; no other process can hold a file against it. The folder for
// temporary files is /tmp, as OpenCV's; a folder is made with mode 0700 and
// emptied with getdents64 and unlinkat, which are async-signal-safe.
//
// cv::imread opens a regular file by /proc/self/fd/N of the open file, which
// therefore is the file opened. Character and block devices (/dev/zero, a
// disk) are devices. Paths are the argument's bytes as given; one longer than
// PATH_MAX fails to open.
#include "platform.h"

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

long long writeFile(OsFile* file, const unsigned char* bytes, std::size_t size)
{
    ssize_t written = 0;
    do {
        written = ::write(file->descriptor, bytes, size);
    } while (written < 0 && errno == EINTR);
    return written;
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

bool renameOver(const char* from, const char* to, bool& held)
{
    held = false;
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

std::string temporaryFolder()
{
    return "/tmp";
}

bool makeFolder(const char* path, bool& exists)
{
    const bool made = ::mkdir(path, 0700) == 0;
    exists = !made && errno == EEXIST;
    return made;
}

bool removeFolder(const char* path)
{
    // "." and ".." are listed too; unlinking them fails, harmlessly.
    alignas(dirent64) static char entries[4096];
    const int descriptor = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ssize_t got = 0;
    while (descriptor >= 0 && (got = ::getdents64(descriptor, entries, sizeof entries)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            ::unlinkat(descriptor, entry->d_name, 0);
            at += entry->d_reclen;
        }
    }
    ::close(descriptor);  // nothing when it did not open
    ::rmdir(path);
    return true;  // no process can hold a file here against its removal
}

OsFile* openForReading(const std::string& path, FileKind& kind, std::size_t& size)
{
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return nullptr;
    }
    struct stat info {};
    ::fstat(descriptor, &info);  // cannot fail on an open descriptor
    kind = S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? FileKind::device
           : S_ISREG(info.st_mode)                        ? FileKind::regular
                                                          : FileKind::stream;
    size = static_cast<std::size_t>(info.st_size);
    auto* file = new (std::nothrow) OsFile{descriptor};
    if (file == nullptr) {
        ::close(descriptor);
    }
    return file;
}

long long readFile(OsFile* file, unsigned char* buffer, std::size_t capacity)
{
    ssize_t got = 0;
    do {
        got = ::read(file->descriptor, buffer, capacity);
    } while (got < 0 && errno == EINTR);
    return got;
}

std::string readerName(OsFile* file)
{
    // The /proc/self/fd entry, when it names the file (no /proc mounted, say).
    const std::string name = "/proc/self/fd/" + std::to_string(file->descriptor);
    struct stat opened {}, named {};
    if (::fstat(file->descriptor, &opened) != 0 || ::stat(name.c_str(), &named) != 0 ||
        named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) {
        return std::string();
    }
    return name;
}
