#include "sys/trust_rules.h"

#include "win/wstr.h"

namespace trust {
namespace {

// The last dot anywhere in the path, not only in its last component: "pkg.new\setup"
// yields "new\setup", which is no verifiable type.
std::wstring LowerExtension(const std::wstring& path)
{
    size_t dot = path.rfind(L'.');
    return wstr::AsciiLower(dot == std::wstring::npos ? path : path.substr(dot + 1));
}

}  // namespace

int IsVerifiableFileType(const std::wstring& path)
{
    const std::wstring extension = LowerExtension(path);
    for (const wchar_t* known : {L"exe", L"dll", L"vbs", L"msi"}) {
        if (extension == known) return 1;
    }
    return 0;
}

int IsPortableExecutableType(const std::wstring& path)
{
    const std::wstring extension = LowerExtension(path);
    return extension == L"exe" || extension == L"dll" ? 1 : 0;
}

int SignerNameHasMark(const std::wstring& signerName)
{
    return wstr::AsciiUpper(signerName).find(L"KAVRO") != std::wstring::npos ? 1 : 0;
}

}  // namespace trust
