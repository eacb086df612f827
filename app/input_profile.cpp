#include "input_profile.h"

#include "icc_profile.h"
#include "platform.h"

std::vector<unsigned char> inputProfile(OsFile* held, const std::vector<unsigned char>& bytes)
{
    if (held == nullptr) {
        return readRgbIccProfile(bytes.data(), bytes.size());
    }
    // The decoder opened the file by its name, on a handle of its own: the
    // one held is still at its first byte.
    return readRgbIccProfile([held](unsigned char* buffer, std::size_t capacity) {
        return readFile(held, buffer, capacity);
    });
}
