#include "app/startup_rules.h"

namespace startup {

namespace {

std::wstring ReplaceAll(const std::wstring& text, wchar_t letter, wchar_t replacement)
{
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == letter) {
            out += replacement;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

wchar_t AsciiUpper(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool IsReservedDeviceName(const std::wstring& name)
{
    // The device is matched by the part before the first dot, whatever follows ("nul.exe").
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (auto& c : stem) c = AsciiUpper(c);
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$",
                                              L"CONOUT$"};
    for (const wchar_t* device : kDevices)
        if (stem == device) return true;
    if (stem.size() != 4 || (stem.compare(0, 3, L"COM") != 0 && stem.compare(0, 3, L"LPT") != 0))
        return false;
    // Windows also takes the superscript digits one to three as port numbers: "COM\u00B9" is
    // the first serial port, not a file.
    const wchar_t number = stem[3];
    return (number >= L'0' && number <= L'9') || number == L'\u00B9' || number == L'\u00B2' ||
           number == L'\u00B3';
}

}  // namespace

std::wstring UnescapeControlChars(const std::wstring& text)
{
    return ReplaceAll(ReplaceAll(ReplaceAll(text, L'r', L'\r'), L'n', L'\n'), L't', L'\t');
}

const wchar_t* LanguageFolderFor(unsigned primaryLanguage)
{
    switch (primaryLanguage) {
    case 0x0A: return L"Spanish";
    case 0x0C: return L"French";
    case 0x16: return L"Portuguese";
    default: return L"English";
    }
}

bool IsVersionAtLeast(std::uint32_t major, std::uint32_t minor, std::uint32_t servicePack,
                      std::int32_t minMajor, std::int32_t minMinor, std::int32_t minServicePack)
{
    const auto wantMajor = static_cast<std::uint32_t>(minMajor);
    const auto wantMinor = static_cast<std::uint32_t>(minMinor);
    const auto wantServicePack = static_cast<std::uint32_t>(minServicePack);
    if (major != wantMajor) return major > wantMajor;
    if (minor != wantMinor) return minor > wantMinor;
    return servicePack >= wantServicePack;
}

bool IsRevisionNewer(std::int32_t remote, std::int32_t local)
{
    return static_cast<std::uint32_t>(remote) > static_cast<std::uint32_t>(local);
}

Action Decide(int osSupported, int connected, int updateAvailable)
{
    if (!osSupported) return Action::ShowDialog;
    if (connected && updateAvailable) return Action::ShowDialog;
    return Action::LaunchLocalWizard;
}

bool IsPlainFileName(const std::wstring& name)
{
    if (name.find_first_not_of(L". ") == std::wstring::npos) return false;
    for (wchar_t c : name) {
        if (c < 32) return false;
        if (std::wstring(L"<>:\"/\\|?*").find(c) != std::wstring::npos) return false;
    }
    return !IsReservedDeviceName(name);
}

bool IsWebUrl(const std::wstring& url)
{
    const size_t colon = url.find(L"://");
    if (colon == std::wstring::npos || colon + 3 >= url.size()) return false;
    std::wstring scheme = url.substr(0, colon);
    for (auto& c : scheme) c = AsciiUpper(c);
    if (scheme != L"HTTP" && scheme != L"HTTPS") return false;
    const wchar_t hostStart = url[colon + 3];
    return hostStart != L'/' && hostStart != L'\\';
}

bool IsSafeExePath(const std::wstring& exePath)
{
    size_t components = 0;
    size_t start = 0;
    for (;;) {
        const size_t end = exePath.find(L'\\', start);
        const size_t length = end == std::wstring::npos ? end : end - start;
        if (!IsPlainFileName(exePath.substr(start, length))) return false;
        ++components;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return components >= 2;
}

std::wstring FileNamePart(const std::wstring& url)
{
    size_t start = 0;
    for (size_t i = 0; i + 1 < url.size(); ++i) {
        const wchar_t c = url[i];
        const wchar_t next = url[i + 1];
        if ((c == L'\\' || c == L'/' || c == L':') && next != L'\\' && next != L'/') start = i + 1;
    }
    return url.substr(start);
}

std::wstring PackageName(const std::wstring& downloadUrl)
{
    if (!IsWebUrl(downloadUrl)) return std::wstring();
    std::wstring name = FileNamePart(downloadUrl);
    return IsPlainFileName(name) ? name : std::wstring();
}

bool IsUpdateOffered(const std::wstring& downloadUrl, const std::wstring& exePath,
                     std::int32_t revision, std::int32_t localRevision)
{
    return !PackageName(downloadUrl).empty() && IsSafeExePath(exePath) &&
           IsRevisionNewer(revision, localRevision);
}

}  // namespace startup
