#include "sys/trust_rules.h"

#include <cstring>

#include "sys/pe_certificate.h"
#include "win/wstr.h"

namespace trust {
namespace {

const unsigned char kCompoundFileSignature[8] = {0xD0, 0xCF, 0x11, 0xE0,
                                                 0xA1, 0xB1, 0x1A, 0xE1};

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
    return KindOfName(path) != PackageKind::None ? 1 : 0;
}

PackageKind KindOfName(const std::wstring& path)
{
    const std::wstring extension = LowerExtension(path);
    if (extension == L"exe" || extension == L"dll") return PackageKind::PortableExecutable;
    if (extension == L"vbs") return PackageKind::Script;
    if (extension == L"msi") return PackageKind::InstallerDatabase;
    return PackageKind::None;
}

PackageKind KindOfContent(const unsigned char* head, size_t length)
{
    if (length > pe::kHeadBytes) length = pe::kHeadBytes;
    if (length == 0) return PackageKind::None;
    if (length >= 2 && head[0] == 'M' && head[1] == 'Z')
        return pe::IsPeImage(head, length) ? PackageKind::PortableExecutable : PackageKind::None;
    if (length >= sizeof kCompoundFileSignature &&
        std::memcmp(head, kCompoundFileSignature, sizeof kCompoundFileSignature) == 0)
        return PackageKind::InstallerDatabase;
    return PackageKind::Script;
}

PackageKind ClassifyPackage(const std::wstring& path, const unsigned char* head, size_t length)
{
    const PackageKind named = KindOfName(path);
    if (named == PackageKind::None) return PackageKind::None;
    return KindOfContent(head, length) == named ? named : PackageKind::None;
}

int SignerNameHasMark(const std::wstring& signerName)
{
    return wstr::AsciiUpper(signerName).find(L"KAVRO") != std::wstring::npos ? 1 : 0;
}

}  // namespace trust
