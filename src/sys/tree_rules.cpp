#include "sys/tree_rules.h"

#include <utility>

namespace tree {
namespace {
constexpr unsigned long kDirectory = 0x10;     // FILE_ATTRIBUTE_DIRECTORY
constexpr unsigned long kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Length of the root ("C:\" or "\\server\share\") at the start of `path`; 0 when there is none.
size_t RootLength(const std::wstring& path)
{
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\')
        return 3;
    if (path.compare(0, 2, L"\\\\") != 0) return 0;
    const size_t serverEnd = path.find(L'\\', 2);
    if (serverEnd == std::wstring::npos) return 0;
    const std::wstring server = path.substr(2, serverEnd - 2);
    // "\\?\" and "\\.\" open the device namespace, where none of the Win32 path rules hold.
    if (!IsPlainName(server) || server == L"?") return 0;
    const size_t shareEnd = path.find(L'\\', serverEnd + 1);
    if (shareEnd == std::wstring::npos) return 0;
    return IsPlainName(path.substr(serverEnd + 1, shareEnd - serverEnd - 1)) ? shareEnd + 1 : 0;
}

}  // namespace

bool IsPlainName(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L"..") return false;
    return name.find_first_of(L"\\/:") == std::wstring::npos;
}

EntryKind ClassifyEntry(const std::wstring& name, unsigned long attributes)
{
    if (name == L"." || name == L"..") return EntryKind::Skip;
    if (attributes & kReparsePoint) return EntryKind::Link;
    return (attributes & kDirectory) ? EntryKind::Folder : EntryKind::File;
}

bool SplitFolderPath(const std::wstring& path, FolderPath* out)
{
    const size_t root = RootLength(path);
    if (root == 0 || root == path.size()) return false;
    FolderPath split;
    split.root = path.substr(0, root);
    for (size_t start = root;;) {
        const size_t end = path.find(L'\\', start);
        split.names.push_back(
            path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (!IsPlainName(split.names.back())) return false;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    *out = std::move(split);
    return true;
}

}  // namespace tree
