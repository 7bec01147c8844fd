#include "app/startup_rules.h"

#include "rules/translations.h"
#include "rules/wstr.h"

namespace app {

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

const wchar_t* WizardRefusedText(const std::wstring& languageFolder)
{
    static const struct {
        const wchar_t* english;
        const wchar_t* spanish;
        const wchar_t* french;
        const wchar_t* portuguese;
    } kText = {
        L"KVWizard.exe was not started: it does not carry the publisher's valid signature.",
        L"No se ha iniciado KVWizard.exe: no lleva la firma v\u00e1lida del editor.",
        L"KVWizard.exe n'a pas \u00e9t\u00e9 lanc\u00e9 : il ne porte pas la signature valide "
        L"de l'\u00e9diteur.",
        L"O KVWizard.exe n\u00e3o foi iniciado: n\u00e3o tem a assinatura v\u00e1lida do editor.",
    };
    return rules::InLanguage(kText, languageFolder);
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

Decision Decide(const StartupFindings& found)
{
    if (!found.osSupported) return Decision::ShowDialog;
    if (found.connected && found.updateAvailable) return Decision::ShowDialog;
    return Decision::LaunchLocalWizard;
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
    if (!rules::IsWebUrl(downloadUrl)) return std::wstring();
    std::wstring name = FileNamePart(downloadUrl);
    return rules::IsPlainFileName(name) ? name : std::wstring();
}

bool IsUpdateOffered(const std::wstring& downloadUrl, const std::wstring& exePath,
                     std::int32_t revision, std::int32_t localRevision)
{
    return !PackageName(downloadUrl).empty() && rules::IsSafeExePath(exePath) &&
           IsRevisionNewer(revision, localRevision);
}

bool TurnsUpdateChecksOff(const std::wstring& value)
{
    const std::wstring lower = rules::AsciiLower(value);
    return lower == L"0" || lower == L"off" || lower == L"no" || lower == L"false";
}

bool ParseByteCount(const std::wstring& text, std::uint64_t limit, std::uint64_t* bytes)
{
    unsigned long long value = 0;
    if (!rules::ParseDecimal(text.data(), text.size(), limit, &value) || value == 0) return false;
    *bytes = value;
    return true;
}

}  // namespace app
