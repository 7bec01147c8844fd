#include "sys/trust_rules.h"

#include <cstring>
#include <iterator>

#include "rules/pe_certificate.h"
#include "sys/signer_key_pins.h"
#include "rules/wstr.h"

namespace sys {
namespace {

const unsigned char kCompoundFileSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// The last dot anywhere in the path, not only in its last component: "pkg.new\setup"
// yields "new\setup", which is no verifiable type.
std::wstring LowerExtension(const std::wstring& path)
{
    size_t dot = path.rfind(L'.');
    return rules::AsciiLower(dot == std::wstring::npos ? path : path.substr(dot + 1));
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool HexEquals(std::string_view hex, const unsigned char* bytes)
{
    if (hex.size() != 2 * kKeyHashBytes) return false;
    for (size_t i = 0; i < kKeyHashBytes; ++i) {
        const int high = HexDigit(hex[2 * i]), low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0 || high * 16 + low != bytes[i]) return false;
    }
    return true;
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
    if (length > rules::kPeHeadBytes) length = rules::kPeHeadBytes;
    if (length == 0) return PackageKind::None;
    if (length >= 2 && head[0] == 'M' && head[1] == 'Z')
        return rules::IsPeImage(head, length) ? PackageKind::PortableExecutable : PackageKind::None;
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

bool SignerNameHasMark(const std::wstring& signerName)
{
    return rules::AsciiUpper(signerName).find(L"KAVRO") != std::wstring::npos;
}

const KeyPins& BuiltInKeyPins()
{
    static const KeyPins pins(std::begin(kSignerKeyPins), std::end(kSignerKeyPins) - 1);
    return pins;
}

bool IsKeyPinned(const unsigned char* keyHash, const KeyPins& pins)
{
    if (pins.empty()) return true;
    if (!keyHash) return false;
    for (std::string_view pin : pins)
        if (HexEquals(pin, keyHash)) return true;
    return false;
}

}  // namespace sys
