#include "rules/names.h"

#include <cstdint>

#include "rules/wstr.h"

namespace rules {
namespace {

bool IsSuperscriptOneToThree(wchar_t c)
{
    return c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3';
}

// Win32 maps these to devices in any folder, with any extension ("nul.txt"), and ignores
// blanks before the extension ("aux .txt").
bool IsReservedDeviceName(const std::wstring& name)
{
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (auto& c : stem) c = AsciiUpperChar(c);
    static const wchar_t* const kDevices[] = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                              L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* device : kDevices)
        if (stem == device) return true;
    if (stem.size() != 4 || (stem.compare(0, 3, L"COM") != 0 && stem.compare(0, 3, L"LPT") != 0))
        return false;
    // Windows also takes the superscript digits one to three as port numbers.
    const wchar_t number = stem[3];
    return (number >= L'0' && number <= L'9') || IsSuperscriptOneToThree(number);
}

bool HasForbiddenCharacter(const std::wstring& name)
{
    for (wchar_t c : name) {
        if (c < 32 || c == 0x7F) return true;
        if (std::wstring(L"<>:\"/\\|?*").find(c) != std::wstring::npos) return true;
    }
    return false;
}

// The scheme before "://" in upper case, when a host follows; empty otherwise.
std::wstring WebScheme(const std::wstring& url)
{
    const size_t colon = url.find(L"://");
    if (colon == std::wstring::npos || colon + 3 >= url.size()) return std::wstring();
    const wchar_t hostStart = url[colon + 3];
    if (hostStart == L'/' || hostStart == L'\\') return std::wstring();
    std::wstring scheme = url.substr(0, colon);
    for (auto& c : scheme) c = AsciiUpperChar(c);
    return scheme;
}

}  // namespace

bool IsPlainFileName(const std::wstring& name)
{
    if (name.empty() || name.size() > kMaxFileNameLength) return false;
    if (name.back() == L'.' || name.back() == L' ') return false;  // also "", ".", "..", ". ."
    return !HasForbiddenCharacter(name) && !IsReservedDeviceName(name);
}

bool IsWebUrl(const std::wstring& url)
{
    const std::wstring scheme = WebScheme(url);
    return scheme == L"HTTP" || scheme == L"HTTPS";
}

bool IsHttpsUrl(const std::wstring& url) { return WebScheme(url) == L"HTTPS"; }

std::wstring TrimProfileBlanks(const std::wstring& text)
{
    auto blank = [](wchar_t c) {
        return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x1A;
    };
    size_t begin = 0, end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool IsSameProfileName(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && rules::AsciiLower(a) == rules::AsciiLower(b);
}

bool DecodeUtf8(std::string_view text, std::wstring* out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    std::wstring units;
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        size_t extra = 0;
        uint32_t cp = c, least = 0;
        if (c < 0x80)
            extra = 0;
        else if ((c & 0xE0) == 0xC0)
            extra = 1, cp = c & 0x1F, least = 0x80;
        else if ((c & 0xF0) == 0xE0)
            extra = 2, cp = c & 0x0F, least = 0x800;
        else if ((c & 0xF8) == 0xF0)
            extra = 3, cp = c & 0x07, least = 0x10000;
        else
            return false;
        if (n - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            units += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
            units += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            units += static_cast<wchar_t>(cp);
        }
        i += extra + 1;
    }
    *out = std::move(units);
    return true;
}

bool IsSafeExePath(const std::wstring& exePath)
{
    size_t components = 0;
    for (size_t start = 0;;) {
        const size_t end = exePath.find(L'\\', start);
        const size_t length = end == std::wstring::npos ? end : end - start;
        if (!IsPlainFileName(exePath.substr(start, length))) return false;
        ++components;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return components >= 2;
}

}  // namespace rules
