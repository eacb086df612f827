#include "text_encoding.h"

std::wstring toWide(const std::string& text, UINT codePage)
{
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], length);
    return wide;
}

std::string toCodePage(const std::wstring& wide, UINT codePage)
{
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), size, &bytes[0], length, nullptr, nullptr);
    return bytes;
}

bool toCodePageExactly(const std::wstring& wide, UINT codePage, std::string& bytes)
{
    bytes = toCodePage(wide, codePage);
    return !bytes.empty() && toWide(bytes, codePage) == wide;
}
