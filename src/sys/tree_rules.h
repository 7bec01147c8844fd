// Directory walk rules shared by the tree copy and delete, free of platform calls.
#pragma once
#include <string>

namespace tree {

// Listing patterns longer than this do not fit the find functions' MAX_PATH buffer.
constexpr size_t kMaxPatternLength = 259;

enum class EntryKind { Skip, File, Folder, Link };

// "." and ".." are skipped; a reparse point (junction, symbolic link, mount point) is a Link
// whatever else its attributes say, so no walk ever follows one; else the directory flag
// decides. Attributes are the Win32 FILE_ATTRIBUTE_* bits.
EntryKind ClassifyEntry(const std::wstring& name, unsigned long attributes);

// "folder\*.*", or empty when that pattern would be too long to list.
std::wstring ListingPattern(const std::wstring& folder);

}  // namespace tree
