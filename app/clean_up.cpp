#include "clean_up.h"

#include "platform.h"

#include <atomic>
#include <cstring>

namespace {

struct Slot {
    char paths[2][kMaxLeftoverPath];
    int lastWritten = 1;                          // paths[lastWritten] was written last
    std::atomic<const char*> published{nullptr};  // what a handler removes; null: nothing
};

static_assert(std::atomic<const char*>::is_always_lock_free, "a handler reads the slots through lock-free atomics");

Slot slots[2];

Slot& slotOf(Leftover kind)
{
    return slots[kind == Leftover::file ? 0 : 1];
}

} // namespace

bool registerLeftover(Leftover kind, const char* path)
{
    Slot& slot = slotOf(kind);
    const std::size_t size = std::strlen(path) + 1;
    if (size > kMaxLeftoverPath) {
        slot.published.store(nullptr);
        return false;
    }
    slot.lastWritten = 1 - slot.lastWritten;
    std::memcpy(slot.paths[slot.lastWritten], path, size);
    slot.published.store(slot.paths[slot.lastWritten]);
    return true;
}

void forgetLeftover(Leftover kind)
{
    slotOf(kind).published.store(nullptr);
}

void removeLeftovers()
{
    if (const char* file = slotOf(Leftover::file).published.load()) {
        removeFile(file);
    }
    if (const char* folder = slotOf(Leftover::folder).published.load()) {
        removeFolder(folder);
    }
}
