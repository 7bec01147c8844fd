// The package check's own rules, free of any platform call: what a package is, read from its
// content and held against its name, and whose signer name carries the maker's mark.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sys {

// What a package holds. The trust provider and the loader go by content, not by name, so the
// kind is read from the first bytes once and every later step is handed that result.
enum class PackageKind {
    None,                // not a package we judge: refused
    PortableExecutable,  // "MZ" with a PE header behind it
    InstallerDatabase,   // an OLE compound file (D0 CF 11 E0 A1 B1 1A E1)
    Script,              // anything else that is not empty and does not start with "MZ"
};

// 1 when the text after the last '.' of the whole path (the whole path when it holds no dot),
// lower-cased by the ASCII rule, is "exe", "dll", "vbs" or "msi"; else 0.
int IsVerifiableFileType(const std::wstring& path);

// The kind the name promises: exe and dll a PE image, msi an installer database, vbs a
// script; None for every other name.
PackageKind KindOfName(const std::wstring& path);

// The kind the first `length` bytes show; at most rules::kPeHeadBytes are looked at. Data starting
// with "MZ" is a PE image or nothing: a DOS stub without a PE header in reach is refused
// rather than judged as a script.
PackageKind KindOfContent(const unsigned char* head, size_t length);

// The content's kind when the name promises the same kind; None when they disagree.
PackageKind ClassifyPackage(const std::wstring& path, const unsigned char* head, size_t length);

// True when the signer name, upper-cased by the ASCII rule only, contains "KAVRO".
bool SignerNameHasMark(const std::wstring& signerName);

// SHA-256 digests of signer public keys (SubjectPublicKeyInfo DER), as hex text. Any trusted
// authority can issue a certificate whose name holds the maker's mark; a pin names the maker's
// own key. The pins view text that outlives them: the build's literals, or a test's strings.
using KeyPins = std::vector<std::string_view>;

// The pins this build was made with (the CMake cache option MORVANE_SIGNER_KEY_PINS); empty
// when the publisher pinned nothing.
const KeyPins& BuiltInKeyPins();

constexpr size_t kKeyHashBytes = 32;

// true when `pins` is empty, or when one of them is the hex form (either case) of the
// kKeyHashBytes bytes at `keyHash`. A null `keyHash` (the key could not be read) matches
// nothing.
bool IsKeyPinned(const unsigned char* keyHash, const KeyPins& pins);

}  // namespace sys
