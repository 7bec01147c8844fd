#include "rules/folders.h"

#include "rules/names.h"

namespace rules {
namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool FitsPathBuffer(const std::wstring& value)
{
    return !value.empty() && value.size() < kMaxPathChars;
}

}  // namespace

size_t RootLength(const std::wstring& path)
{
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\') return 3;
    if (path.compare(0, 2, L"\\\\") != 0) return 0;
    const size_t serverEnd = path.find(L'\\', 2);
    if (serverEnd == std::wstring::npos) return 0;
    // "\\?\" and "\\.\" open the device namespace, where none of the Win32 path rules hold;
    // neither "?" nor "." is a plain file name.
    if (!IsPlainFileName(path.substr(2, serverEnd - 2))) return 0;
    const size_t shareEnd = path.find(L'\\', serverEnd + 1);
    if (shareEnd == std::wstring::npos) return 0;
    return IsPlainFileName(path.substr(serverEnd + 1, shareEnd - serverEnd - 1)) ? shareEnd + 1 : 0;
}

std::wstring TemporaryFolder(const std::wstring& temp, const std::wstring& tmp)
{
    if (FitsPathBuffer(temp)) return temp;
    return FitsPathBuffer(tmp) ? tmp : std::wstring();
}

std::wstring NormaliseFolder(const std::wstring& folder)
{
    // A lone "\" (the current drive's root) is kept as it is too.
    const size_t keep = RootLength(folder) > 0 ? RootLength(folder) : 1;
    size_t end = folder.size();
    while (end > keep && folder[end - 1] == L'\\') --end;
    return folder.substr(0, end);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    std::wstring path = NormaliseFolder(folder);
    if (path.empty() || path.back() != L'\\') path += L'\\';
    path += name;
    return path;
}

std::wstring ParentFolder(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    return path.substr(0, slash + 1 == RootLength(path) ? slash + 1 : slash);
}

std::wstring QuoteArgument(const std::wstring& argument)
{
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count as escapes only in front of a quote.
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring PathArgument(const std::wstring& folder) { return L"/PATH=" + QuoteArgument(folder); }

namespace {
const wchar_t kWorkFolderPrefix[] = L"Morvane-";
constexpr size_t kWorkFolderPrefixLength = sizeof kWorkFolderPrefix / sizeof(wchar_t) - 1;
}  // namespace

std::wstring WorkFolderName(const unsigned char (&random)[kWorkFolderRandomBytes])
{
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring name = kWorkFolderPrefix;
    for (unsigned char byte : random) {
        name += kHex[byte >> 4];
        name += kHex[byte & 0x0F];
    }
    return name;
}

bool IsWorkFolderName(const std::wstring& name)
{
    if (name.size() != kWorkFolderPrefixLength + 2 * kWorkFolderRandomBytes ||
        name.compare(0, kWorkFolderPrefixLength, kWorkFolderPrefix) != 0)
        return false;
    for (size_t i = kWorkFolderPrefixLength; i < name.size(); ++i) {
        const wchar_t c = name[i];
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
    }
    return true;
}

bool IsWorkFolderSecurity(const FolderSecurity& security)
{
    static const Account kGranted[] = {Account::Administrators, Account::System};
    if (security.owner != Account::Administrators || !security.daclPresent ||
        !security.daclProtected || security.entries.size() != 2)
        return false;
    for (size_t i = 0; i < 2; ++i) {
        const AccessEntry& entry = security.entries[i];
        if (entry.account != kGranted[i] || !entry.allows || entry.mask != kWorkFolderAccess ||
            entry.flags != kWorkFolderInheritance)
            return false;
    }
    return true;
}

}  // namespace rules
