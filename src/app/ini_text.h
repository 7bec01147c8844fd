// An INI file read from bytes held in memory, as the profile reader reads it from disk. The
// control file is fetched into memory and read from there: a copy in the user's temporary
// folder could be rewritten between one GetPrivateProfileStringW and the next.
#pragma once
#include <cstddef>
#include <string>

namespace app {

// Characters of a value, as many as a 260-character buffer holds with its terminator.
constexpr size_t kValueChars = 259;

// The text of the bytes: UTF-16LE or UTF-16BE after their byte-order mark; otherwise UTF-8,
// with or without its mark, so ASCII reads as ASCII. A byte that is not valid UTF-8 becomes
// U+FFFD. Characters beyond U+FFFF become surrogate pairs, as in a Windows string, whatever
// the size of wchar_t.
std::wstring DecodeText(const unsigned char* bytes, size_t length);

class IniText {
public:
    IniText(const unsigned char* bytes, size_t length) : m_text(DecodeText(bytes, length)) {}

    // What GetPrivateProfileStringW gives with a 260-character buffer: the value of `key` in
    // the first section named `section` (names trimmed, also inside the brackets, and matched
    // ignoring ASCII case; lines end at a line feed or a carriage return; the
    // first such key wins, and a key without '=' gives the default), blanks around it removed,
    // one pair of matching quotes around it removed, at most kValueChars characters; the
    // default (trailing blanks removed, cut the same way) when there is no such key.
    std::wstring RawValue(const std::wstring& section, const std::wstring& key,
                          const std::wstring& defaultValue) const;

    // RawValue with its escapes converted after the cut, as ReadIniValue reads a file.
    std::wstring Value(const std::wstring& section, const std::wstring& key,
                       const std::wstring& defaultValue) const;

private:
    std::wstring m_text;
};

}  // namespace app
