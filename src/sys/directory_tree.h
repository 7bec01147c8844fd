// Folder creation, tree copy and tree delete for staging a new wizard, which the update flow
// runs on its worker.
//
// These run elevated over folders other programs can write to, so no walk ever goes through
// a reparse point (junction, symbolic link, mount point): the delete removes such a link and
// leaves its target alone, and the copy and EnsureDirectory refuse a destination folder that
// is one rather than write wherever it points. A path is opened one component at a time from
// its root, and a link anywhere on the way fails the call as a link at its end would (the
// delete never removes a link on the way). A folder stays open without delete sharing while
// the walk works inside it, so nothing can be swapped for a link between a check and what
// follows it.
//
// Every path must be an absolute folder below the root of a drive or share (see
// SplitFolderPath): anything else (empty, relative, "C:", a root) gives 0 and touches nothing.
// The one exception is a folder that is only read: the source of EnsureDirectory and of
// CopyFileIfMissing may be a drive's or share's root too ("E:\", where installation media
// keep the program and the wizard). A root is never written into, copied whole or deleted.
#pragma once
#include <windows.h>

#include <string>

#include "win/handles.h"

namespace sys {

// 0 when `source` (a root too) is not an existing folder (checked first); 1 when
// `destination` already is a real folder; else creates that one folder level: 1 when
// created, 0 when not. 0 as well when `destination`, or any folder on the way to it, is a
// reparse point.
int EnsureDirectory(const std::wstring& destination, const std::wstring& source);

// Adds to the tree below `destination` every folder and file of the tree below `source` that
// is missing there; nothing that exists is overwritten or changed. 1 when the walk ran to its
// end, or when `source` does not exist (nothing to copy). 0 when a folder cannot be created,
// a file cannot be copied, a folder of either tree exists but cannot be listed (missing
// destination, path too long), or a destination folder is a reparse point; what was copied
// before stays. Links in the source are not copied, nor are files with a second name.
int CopyDirectoryTree(const std::wstring& destination, const std::wstring& source);

// Copies the file `name` (a plain file name) of the folder `source` (a root too) into the
// folder `destination` unless something of that name is there already. True when the name is
// taken afterwards: copied, or there before and left untouched. False when the file could not be
// copied (what the copy began is removed), or when either folder, or a folder on the way to
// it, is a reparse point.
bool CopyFileIfMissing(const std::wstring& destination, const std::wstring& source,
                       const std::wstring& name);

// Deletes everything below `folder` and then `folder`; 1 when `folder` was removed. Stops
// with 0 at the first entry it cannot delete (read-only files are not made writable). A
// reparse point is removed as a link, never entered; where the system cannot open a link as
// itself (Wine follows them), the delete stops with 0 at the link instead.
int DeleteDirectoryTree(const std::wstring& folder);

// Deletes everything below the folder `folder` holds and then the folder itself, through that
// handle: nothing is looked up by path again. `folder` must have been opened with DELETE and
// FILE_LIST_DIRECTORY access; it is closed here, which completes the deletion. True when the
// folder went.
bool DeleteHeldDirectoryTree(win::File folder);

// The same walks inside a folder we hold, for elevated work in a folder of our own: nothing on
// the way to it is looked up by path again. The handle must allow listing and adding (the
// work folder's does); `name` is a plain file name, one level down.

// How OpenFolderIn treats a missing folder.
enum class FolderUse { Existing, MakeOrOpen };
// Opens the real folder `name` in `parent` (never a link, never a file), held without delete
// sharing, to list and fill; made first when missing and `use` says so.
bool OpenFolderIn(HANDLE parent, const std::wstring& name, FolderUse use, win::File* folder);
// CopyDirectoryTree into the held `destination`. Files with a second name (hard links) are
// skipped, as links are, with a trail line: the copy would hand their bytes to whoever may read
// the destination.
bool CopyTreeInto(HANDLE destination, const std::wstring& source);
// CopyFileIfMissing into the held `destination`; false for a source file with a second name.
bool CopyFileIfMissingInto(HANDLE destination, const std::wstring& source,
                           const std::wstring& name);
// Deletes `name` in the held `parent` with all it holds (a link as a link); true when nothing
// of that name is there any more.
bool DeleteTreeIn(HANDLE parent, const std::wstring& name);

}  // namespace sys
