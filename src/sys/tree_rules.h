// Directory walk rules shared by the tree copy and delete, free of platform calls.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace sys {

// A folder whose path is longer than this cannot be listed: "folder\*.*" would not fit the
// find functions' MAX_PATH buffer. The walks keep that limit although they list by handle.
constexpr size_t kMaxListedFolderLength = 255;

enum class ListedKind { Skip, File, Folder, Link };

// "." and ".." are skipped; a reparse point (junction, symbolic link, mount point) is a Link
// whatever else its attributes say, so no walk ever follows one; else the directory flag
// decides. Attributes are the Win32 FILE_ATTRIBUTE_* bits.
ListedKind ClassifyEntry(const std::wstring& name, unsigned long attributes);

// An absolute folder path taken apart: its root and the names below it, outermost first.
struct FolderPath {
    std::wstring root;                // "C:\" or "\\server\share\", backslash kept: "C:" alone
                                      // names the drive's current folder
    std::vector<std::wstring> names;  // at least one, except for a root read as a source
};

// False for anything but a folder below the root of a drive ("C:\a\b") or of a share
// ("\\server\share\a"): empty, relative and rooted-without-drive paths, drive-relative ones
// ("C:", "C:a"), roots themselves, device and "\\?\" paths, forward slashes, empty, "." and
// ".." components (a trailing backslash included), and ':' past the drive (streams). Each
// server, share and folder name must be a plain file name (rules::IsPlainFileName).
bool SplitFolderPath(const std::wstring& path, FolderPath* out);

// SplitFolderPath, and also the root of a drive or share itself ("E:\", "\\server\share\" or
// "\\server\share", but not "E:", the drive's current folder), split into that root and no
// names. Only for a folder that is read: installation media may sit at the root of a drive,
// but no walk ever writes into or deletes a root.
bool SplitSourceFolderPath(const std::wstring& path, FolderPath* out);

}  // namespace sys
