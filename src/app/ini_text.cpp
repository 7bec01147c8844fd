#include "app/ini_text.h"

#include "app/startup_rules.h"
#include "rules/names.h"

namespace app {
namespace {

void AppendUtf16(unsigned long codePoint, std::wstring* text)
{
    if (codePoint < 0x10000) {
        *text += static_cast<wchar_t>(codePoint);
        return;
    }
    codePoint -= 0x10000;
    *text += static_cast<wchar_t>(0xD800 + (codePoint >> 10));
    *text += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
}

// One UTF-8 sequence at `at`; a byte that starts no valid sequence is taken alone as U+FFFD.
size_t DecodeUtf8At(const unsigned char* bytes, size_t length, size_t at, std::wstring* text)
{
    const unsigned char lead = bytes[at];
    size_t count = 0;
    unsigned long codePoint = 0, least = 0;
    if (lead < 0x80) {
        *text += static_cast<wchar_t>(lead);
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        count = 1, codePoint = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 2, codePoint = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 3, codePoint = lead & 0x07, least = 0x10000;
    }
    if (count == 0 || length - at <= count) {
        *text += L'\xFFFD';
        return 1;
    }
    for (size_t i = 1; i <= count; ++i) {
        if ((bytes[at + i] & 0xC0) != 0x80) {
            *text += L'\xFFFD';
            return 1;
        }
        codePoint = (codePoint << 6) | (bytes[at + i] & 0x3F);
    }
    if (codePoint < least || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        *text += L'\xFFFD';
        return 1;
    }
    AppendUtf16(codePoint, text);
    return count + 1;
}

std::wstring DecodeUtf16(const unsigned char* bytes, size_t length, bool bigEndian)
{
    std::wstring text;
    text.reserve(length / 2);
    for (size_t i = 0; i + 1 < length; i += 2) {
        const unsigned first = bytes[i], second = bytes[i + 1];
        text += static_cast<wchar_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    }
    return text;
}

// What the profile reader copies for a value: a pair of the same quotes around it dropped,
// then cut to kValueChars. The closing quote is dropped only when the rest fitted the buffer.
std::wstring CopyEntry(const std::wstring& value)
{
    std::wstring rest = value;
    bool quoted = false;
    if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0]) {
        quoted = true;
        rest = value.substr(1);
    }
    std::wstring copy = rest.substr(0, kValueChars);
    if (quoted && rest.size() <= kValueChars + 1 && !copy.empty()) copy.pop_back();
    return copy;
}

std::wstring TrimEnd(std::wstring text)
{
    while (!text.empty() && text.back() == L' ') text.pop_back();
    return text;
}

}  // namespace

std::wstring DecodeText(const unsigned char* bytes, size_t length)
{
    if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        return DecodeUtf16(bytes + 2, length - 2, false);
    if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        return DecodeUtf16(bytes + 2, length - 2, true);
    size_t at = length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    std::wstring text;
    text.reserve(length);
    while (at < length) at += DecodeUtf8At(bytes, length, at, &text);
    return text;
}

std::wstring IniText::RawValue(const std::wstring& section, const std::wstring& key,
                               const std::wstring& defaultValue) const
{
    const std::wstring fallback = CopyEntry(TrimEnd(defaultValue));
    const std::wstring wantedSection = rules::TrimProfileBlanks(section);
    const std::wstring wantedKey = rules::TrimProfileBlanks(key);
    if (wantedKey.empty()) return fallback;
    // Lines before the first section header belong to a section without a name.
    bool inWanted = wantedSection.empty();
    bool seenWanted = inWanted;
    size_t start = 0;
    while (start <= m_text.size()) {
        // A carriage return alone ends a line as a line feed does.
        size_t end = m_text.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos) end = m_text.size();
        const std::wstring line = rules::TrimProfileBlanks(m_text.substr(start, end - start));
        start = end + 1;

        const size_t close = line.rfind(L']');
        if (!line.empty() && line[0] == L'[' && close != std::wstring::npos && close > 0) {
            // Only the first section of that name is read.
            if (seenWanted && inWanted) return fallback;
            inWanted = !seenWanted &&
                       rules::IsSameProfileName(rules::TrimProfileBlanks(line.substr(1, close - 1)),
                                                wantedSection);
            seenWanted = seenWanted || inWanted;
            continue;
        }
        if (!inWanted) continue;
        const size_t equals = line.find(L'=');
        const std::wstring name = rules::TrimProfileBlanks(line.substr(0, equals));
        if (!rules::IsSameProfileName(name, wantedKey)) continue;
        if (equals == std::wstring::npos) return fallback;  // a key without a value
        std::wstring value = rules::TrimProfileBlanks(line.substr(equals + 1));
        value = value.substr(0, value.find(L'\0'));  // the reader's strings end at a NUL
        return CopyEntry(value);
    }
    return fallback;
}

std::wstring IniText::Value(const std::wstring& section, const std::wstring& key,
                            const std::wstring& defaultValue) const
{
    return app::UnescapeControlChars(RawValue(section, key, defaultValue));
}

}  // namespace app
