// The update decision on whatever a control file can say. The input is four lines: DownloadUrl,
// ExePath, the Revision text and the local InstallerRevision text. Bytes are Latin-1 characters,
// except that 0xFF and the two bytes after it are one UTF-16 code unit (little-endian), so any
// character can appear. The properties checked are the ones an elevated updater lives by: an
// accepted package lands directly inside the temporary folder and an accepted wizard path
// stays below it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup_rules.h"
#include "rules/names.h"

namespace {

std::vector<std::wstring> Lines(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::wstring> lines(1);
    for (std::size_t i = 0; i < size; ++i) {
        wchar_t c = data[i];
        if (data[i] == 0xFF && i + 2 < size) {
            c = static_cast<wchar_t>(data[i + 1] | (data[i + 2] << 8));
            i += 2;
        } else if (data[i] == '\n') {
            lines.emplace_back();
            continue;
        }
        // A value read from an INI file never holds a NUL: the reader ends the string there.
        if (c != 0) lines.back() += c;
    }
    lines.resize(4);
    return lines;
}

// StrToIntW as the update check applies it: a leading '-' or digit, ASCII digits, wrapping.
std::int32_t Number(const std::wstring& text)
{
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == L'-';
    if (negative) ++i;
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
        value = value * 10u + static_cast<std::uint32_t>(text[i] - L'0');
    return static_cast<std::int32_t>(negative ? 0u - value : value);
}

void Require(bool property)
{
    if (!property) std::abort();
}

bool Contains(const std::wstring& text, const wchar_t* what)
{
    return text.find(what) != std::wstring::npos;
}

bool IsAllDotsAndBlanks(const std::wstring& component)
{
    return component.find_first_not_of(L". ") == std::wstring::npos;
}

void CheckPackageName(const std::wstring& url, const std::wstring& name)
{
    Require(rules::IsWebUrl(url));
    Require(name == app::FileNamePart(url));
    Require(url.size() >= name.size() &&
            url.compare(url.size() - name.size(), name.size(), name) == 0);
    for (wchar_t c : name) {
        Require(c >= 32);
        Require(std::wstring(L"\\/:*?\"<>|").find(c) == std::wstring::npos);
    }
    Require(!IsAllDotsAndBlanks(name));
}

// Below the temporary folder: relative, no drive or stream, no way up, a folder and a file.
void CheckExePath(const std::wstring& path)
{
    Require(!path.empty() && path[0] != L'\\' && path[0] != L'/');
    Require(!Contains(path, L":") && !Contains(path, L"/"));
    std::size_t components = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(L'\\', start);
        const std::wstring component =
            path.substr(start, end == std::wstring::npos ? end : end - start);
        Require(!IsAllDotsAndBlanks(component));  // no "", ".", "..", "...", " "
        ++components;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    Require(components >= 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::wstring> lines = Lines(data, size);
    const std::wstring& url = lines[0];
    const std::wstring& exePath = lines[1];
    const std::int32_t revision = Number(lines[2]);
    const std::int32_t local = Number(lines[3]);

    const std::wstring name = app::PackageName(url);
    if (!name.empty()) CheckPackageName(url, name);
    if (rules::IsSafeExePath(exePath)) CheckExePath(exePath);

    const bool offered = app::IsUpdateOffered(url, exePath, revision, local);
    Require(offered == app::IsUpdateOffered(url, exePath, revision, local));
    if (offered) {
        CheckPackageName(url, name);
        CheckExePath(exePath);
        Require(static_cast<std::uint32_t>(revision) > static_cast<std::uint32_t>(local));
    }
    // The same values offered against a local revision that nothing exceeds: never an update.
    Require(!app::IsUpdateOffered(url, exePath, revision, -1));
    return 0;
}
