// The ICC colour profile that an image file embeds, read with the codec
// libraries' own calls. It knows nothing of the program that calls it: it
// takes a file's bytes, from memory or as they are read, and gives back a
// profile or none.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

// Gives the next bytes of a file, in order from its first: fills up to
// `capacity` bytes of `buffer` and returns how many, 0 at the file's end,
// a negative number on an error.
using ByteSource = std::function<long long(unsigned char* buffer, std::size_t capacity)>;

// The largest profile read, in bytes.
constexpr std::size_t kMaxIccProfileBytes = std::size_t{16} << 20;

// readRgbIccProfile
//
//   Input:  the bytes of an image file, from `source` or the `size` bytes
//           at `bytes`.
//   Return: the ICC profile the file embeds, byte for byte, when it
//           describes RGB; else empty. Never throws.
//
//   The format is told by the file's first bytes, as the decoders tell it,
//   and the profile read as each format's library reads it:
//     - JPEG: libjpeg-turbo's jpeg_read_icc_profile, which joins a profile
//       split over several APP2 segments and refuses segments that are
//       missing, repeated or out of order;
//     - PNG: libpng's png_get_iCCP (an iCCP chunk that libpng itself
//       refuses, a wrong CRC or a profile that does not match the PNG's
//       colour type, gives none);
//     - TIFF: libtiff's TIFFGetField(TIFFTAG_ICCPROFILE), of the first
//       image;
//     - WebP: libwebp's demux, WebPDemuxGetChunk("ICCP"), in a complete
//       file whose header announces the profile.
//   Any other format gives none. The profile is given back only when
//   it is whole and for RGB, so that a PNG of 8-bit RGB pixels carries it
//   as it is: at most kMaxIccProfileBytes, the size its header declares
//   (bytes 0 to 3) is its own, its colour space (bytes 16 to 19) is
//   'RGB ', and libpng takes it for an RGB image without an error or a
//   warning (libpng checks its header and tag table, and knows some
//   faulty published profiles), as it reads it back from such a file:
//   libpng's reader also refuses a profile that its limit on a chunk's
//   memory, PNG_USER_CHUNK_MALLOC_MAX (8 000 000 bytes on Debian and in
//   the Windows build), cannot hold with 132 bytes more, so a profile
//   over 7 999 868 bytes gives none too. A grey or CMYK profile, one that
//   is damaged or truncated, or one over those limits, gives none; so does
//   a file that its library cannot read as far as the profile, or memory
//   running out.
//
//   From `source`, a JPEG or PNG is read only as far as its image data
//   begin, where their profiles must stand; a TIFF as far as its first
//   image's tags and their data, which most writers put after the pixels,
//   so mostly whole; a WebP whole. What was read is held in memory, in a
//   buffer that doubles as it grows. Libraries' messages about a broken
//   file are not shown.
std::vector<unsigned char> readRgbIccProfile(const ByteSource& source);
std::vector<unsigned char> readRgbIccProfile(const unsigned char* bytes, std::size_t size);
