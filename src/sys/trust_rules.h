// The package check's own rules, free of any platform call: which files can carry an
// embedded signature, and whose signer name carries the maker's mark.
#pragma once
#include <string>

namespace trust {

// 1 when the text after the last '.' of the whole path (the whole path when it holds no dot),
// lower-cased by the ASCII rule, is "exe", "dll", "vbs" or "msi"; else 0.
int IsVerifiableFileType(const std::wstring& path);

// 1 for the two types that are PE images ("exe", "dll"), whose certificate table we check
// ourselves before the trust provider sees the file.
int IsPortableExecutableType(const std::wstring& path);

// 1 when the signer name, upper-cased by the ASCII rule only, contains "KAVRO".
int SignerNameHasMark(const std::wstring& signerName);

}  // namespace trust
