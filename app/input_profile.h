// The colour profile of the input image.
#pragma once

#include <vector>

struct OsFile;

// inputProfile
//
//   The ICC profile for RGB that the input embeds (readRgbIccProfile in
//   icc_profile.h), read from the input as it is decoded: from `held`, the
//   open file whose name the decoder reads (readerName), from its first
//   byte, when there is one; else from `bytes`, the input read to its end
//   (a pipe among them, which can be read only once). So the profile comes
//   from the very file, or the very bytes, of the pixels, never from a
//   file put in the input's place meanwhile. Empty when the input embeds
//   none, or one that is not for RGB or not whole; a profile is never a
//   reason for the run to fail. Never throws.
std::vector<unsigned char> inputProfile(OsFile* held, const std::vector<unsigned char>& bytes);
