#include "sys/tree_rules.h"

namespace tree {
namespace {
constexpr unsigned long kDirectory = 0x10;     // FILE_ATTRIBUTE_DIRECTORY
constexpr unsigned long kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
}  // namespace

EntryKind ClassifyEntry(const std::wstring& name, unsigned long attributes)
{
    if (name == L"." || name == L"..") return EntryKind::Skip;
    if (attributes & kReparsePoint) return EntryKind::Link;
    return (attributes & kDirectory) ? EntryKind::Folder : EntryKind::File;
}

std::wstring ListingPattern(const std::wstring& folder)
{
    std::wstring pattern = folder + L"\\*.*";
    return pattern.size() <= kMaxPatternLength ? pattern : std::wstring();
}

}  // namespace tree
