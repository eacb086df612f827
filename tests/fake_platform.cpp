// The file and process primitives of platform.h, in memory, for testing
// what is built on them: files are a map from name to bytes, and switches
// make a write, a flush or a rename fail, or make every new file "exist".
#include "fake_platform.h"

#include <cstdlib>

struct OsFile {
    std::string name;
    std::size_t read;  // how much of it has been read
};

FakeSystem fake;

OsFile* createNewFile(const char* name, bool& exists)
{
    ++fake.creations;
    exists = fake.everyNameTaken || fake.files.count(name) != 0;
    if (exists) {
        return nullptr;
    }
    fake.files[name];
    return new OsFile{name, 0};
}

long long writeFile(OsFile* file, const unsigned char* bytes, std::size_t size)
{
    // What is written to a removed file goes nowhere, as to an unlinked one.
    const auto written = fake.files.find(file->name);
    if (written != fake.files.end()) {
        written->second.append(reinterpret_cast<const char*>(bytes), size);
    }
    fake.whileWriting();
    return fake.failWrite ? -1 : static_cast<long long>(size);
}

bool renameOver(const char* from, const char* to, bool& held)
{
    held = fake.heldRenames > 0 && fake.heldRenames-- > 0;
    if (held || fake.failRename || fake.files.count(from) == 0) {
        return false;
    }
    fake.files[to] = fake.files[from];
    fake.files.erase(from);
    return true;
}

bool makeFolder(const char* path, bool& exists)
{
    exists = fake.takenFolders > 0 || fake.folders.count(path) != 0;
    fake.takenFolders -= fake.takenFolders > 0 ? 1 : 0;
    return !exists && fake.folders.insert(path).second;
}

void setEnvironment(const char* name, const char* value)
{
    if (value != nullptr) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

OsFile* openForReading(const std::string& path, FileKind& kind, std::size_t&)
{
    kind = FileKind::stream;
    return fake.files.count(path) != 0 ? new OsFile{path, 0} : nullptr;
}

long long readFile(OsFile* file, unsigned char* buffer, std::size_t capacity)
{
    const std::size_t got = fake.files[file->name].copy(reinterpret_cast<char*>(buffer), capacity, file->read);
    file->read += got;
    return static_cast<long long>(got);
}

bool flushFile(OsFile*) { return !fake.failFlush; }
bool closeFile(OsFile* file) { delete file; return true; }
void removeFile(const char* name) { fake.files.erase(name); }
unsigned long processId() { return 42; }
std::string temporaryFolder() { return "/system-temporary"; }
bool removeFolder(const char* path) { fake.folders.erase(path); return true; }
std::string readerName(OsFile*) { return std::string(); }
void handleCrashes(void (*)()) { fake.whileDecoding(); }
void endHandlingCrashes() {}
void prepareText(const char*) {}
void printPreparedText() {}
void waitOnOwnConsole() {}
