// Reading an input to its end, for the platforms' input_file.cpp: the
// buffer handling is the same whatever call reads the bytes.
#pragma once

#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <new>
#include <vector>

// readToEnd, with a failed allocation leaving as std::bad_alloc.
template <typename ReadSome>
bool readToEndOrThrow(ReadSome readSome, std::vector<unsigned char>& bytes, std::size_t expected)
{
    constexpr std::size_t kFirstBuffer = std::size_t{1} << 20;
    if (expected > kMaxInputBytes) {
        errno = EFBIG;
        return false;
    }
    std::size_t used = 0;
    bytes.resize(std::max(expected + 1, kFirstBuffer));
    for (;;) {
        if (used == bytes.size()) {
            if (used > kMaxInputBytes) {
                errno = EFBIG;
                return false;
            }
            bytes.resize(std::min(2 * used, kMaxInputBytes + 1));
        }
        const long long got = readSome(bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    bytes.resize(used);
    if (used > kMaxInputBytes) {
        errno = EFBIG;
        return false;
    }
    return true;
}

// readToEnd
//
//   Fills `bytes` with what `readSome(buffer, capacity)` delivers until it
//   returns 0 (the end). `readSome` returns how many bytes it put in the
//   buffer, or a negative number for an error, with errno set. The buffer
//   starts one byte larger than `expected`, the size a file on disk has, so
//   that such a file is read without growing it; otherwise (a pipe: pass 0)
//   it grows by doubling. Returns false on an error; with errno EFBIG,
//   reading nothing, when `expected` is over kMaxInputBytes, or once more
//   than kMaxInputBytes have arrived, so that an endless input is not read
//   forever; with errno ENOMEM when the buffer cannot grow. The caller
//   empties `bytes` after a failure.
template <typename ReadSome>
bool readToEnd(ReadSome readSome, std::vector<unsigned char>& bytes, std::size_t expected)
{
    try {
        return readToEndOrThrow(readSome, bytes, expected);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
}
