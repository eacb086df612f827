// Reading an input to its end, for the platforms' input_file.cpp: the
// buffer handling is the same whatever call reads the bytes.
#pragma once

#include "platform.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

// readToEnd, with a failed allocation leaving as std::bad_alloc.
template <typename ReadSome>
InputFile::Status readToEndOrThrow(ReadSome readSome, std::vector<unsigned char>& bytes, std::size_t expected)
{
    constexpr std::size_t kFirstBuffer = std::size_t{1} << 20;
    if (expected > kMaxInputBytes) {
        return InputFile::unreadable;
    }
    std::size_t used = 0;
    bytes.resize(std::max(expected + 1, kFirstBuffer));
    for (;;) {
        if (used == bytes.size()) {
            if (used > kMaxInputBytes) {
                return InputFile::unreadable;
            }
            bytes.resize(std::min(2 * used, kMaxInputBytes + 1));
        }
        const long long got = readSome(bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            return InputFile::unreadable;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    bytes.resize(used);
    return used > kMaxInputBytes ? InputFile::unreadable : InputFile::opened;
}

// readToEnd
//
//   Fills `bytes` with what `readSome(buffer, capacity)` delivers until it
//   returns 0 (the end). `readSome` returns how many bytes it put in the
//   buffer, or a negative number for an error. The buffer starts one byte
//   larger than `expected`, the size a file on disk has, so that such a file
//   is read without growing it; otherwise (a pipe: pass 0) it grows by
//   doubling. Returns opened, or unreadable on an error; unreadable, reading
//   nothing, when `expected` is over kMaxInputBytes, or once more than
//   kMaxInputBytes have arrived, so that an endless input is not read
//   forever; outOfMemory when the buffer cannot grow. After a failure
//   `bytes` is empty, its memory given back.
template <typename ReadSome>
InputFile::Status readToEnd(ReadSome readSome, std::vector<unsigned char>& bytes, std::size_t expected)
{
    InputFile::Status status = InputFile::outOfMemory;
    try {
        status = readToEndOrThrow(readSome, bytes, expected);
    } catch (const std::bad_alloc&) {
        // status stays outOfMemory
    }
    if (status != InputFile::opened) {
        bytes = std::vector<unsigned char>();
    }
    return status;
}
