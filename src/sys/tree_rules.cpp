#include "sys/tree_rules.h"

#include <utility>

#include "rules/folders.h"
#include "rules/names.h"

namespace sys {
namespace {
constexpr unsigned long kDirectory = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
constexpr unsigned long kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
}  // namespace

ListedKind ClassifyEntry(const std::wstring& name, unsigned long attributes)
{
    if (name == L"." || name == L"..") return ListedKind::Skip;
    if (attributes & kReparsePoint) return ListedKind::Link;
    return (attributes & kDirectory) ? ListedKind::Folder : ListedKind::File;
}

bool SplitFolderPath(const std::wstring& path, FolderPath* out)
{
    const size_t root = rules::RootLength(path);
    if (root == 0 || root == path.size()) return false;
    FolderPath split;
    split.root = path.substr(0, root);
    for (size_t start = root;;) {
        const size_t end = path.find(L'\\', start);
        split.names.push_back(
            path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (!rules::IsPlainFileName(split.names.back())) return false;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    *out = std::move(split);
    return true;
}

bool SplitSourceFolderPath(const std::wstring& path, FolderPath* out)
{
    // "\\server\share" without its backslash names the same root.
    const bool shareWithoutBackslash =
        path.compare(0, 2, L"\\\\") == 0 && rules::RootLength(path + L"\\") == path.size() + 1;
    const std::wstring root = shareWithoutBackslash ? path + L"\\" : path;
    if (rules::RootLength(root) == 0 || rules::RootLength(root) != root.size())
        return SplitFolderPath(path, out);
    out->root = root;
    out->names.clear();
    return true;
}

}  // namespace sys
