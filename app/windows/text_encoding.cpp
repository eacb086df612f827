#include "text_encoding.h"

std::wstring toWide(const std::string& text, UINT codePage)
{
    const int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string toCodePage(const std::wstring& wide, UINT codePage)
{
    const int length = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (length <= 0) {
        return std::string();
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], length, nullptr,
                        nullptr);
    return bytes;
}

bool toCodePageExactly(const std::wstring& wide, UINT codePage, std::string& bytes)
{
    bytes = toCodePage(wide, codePage);
    return !bytes.empty() && toWide(bytes, codePage) == wide;
}
