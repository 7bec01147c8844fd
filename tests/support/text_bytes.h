// Text as the bytes a file or a package carries, for the tests of both tiers.
#pragma once
#include <string>

namespace testtext {

// UTF-16LE with the byte-order mark, the encoding the profile reader takes for non-ASCII texts;
// code units of the BMP only, which is all the tests write.
inline std::string Utf16(const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

}  // namespace testtext
