// Conversions between the program's UTF-8 texts and Windows' encodings.
#pragma once

#include <windows.h>

#include <string>

// `text` (UTF-8, or in the code page `codePage`) as UTF-16; empty when it is
// not valid there.
std::wstring toWide(const std::string& text, UINT codePage = CP_UTF8);

// `wide` in the code page `codePage` (UTF-8: CP_UTF8); characters it lacks
// become its default character.
std::string toCodePage(const std::wstring& wide, UINT codePage);

// Whether the code page `codePage` holds every character of `wide`: its
// bytes there, put in `bytes`, convert back to `wide` unchanged (no default
// character, no look-alike). An empty `wide` is not held.
bool toCodePageExactly(const std::wstring& wide, UINT codePage, std::string& bytes);
