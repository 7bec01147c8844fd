// Opening and creating one entry inside a held folder, by NtCreateFile relative to the folder's
// handle: no path is looked up again, so nothing put in place of a folder on the way is ever
// reached. The one place the native calls are made; the tree walks, the extractor and the
// update's work folder all come here.
#pragma once
#include <windows.h>
#include <winternl.h>

#include <string>

#include "win/handles.h"

namespace win {

// What became of an open or a create inside a folder. The NTSTATUS stays in here: callers
// need only these answers.
enum class EntryResult {
    Opened,     // `opened` holds the handle
    Missing,    // no such name (or no such folder on the way)
    WrongKind,  // a file where a folder was asked for, or the reverse
    Exists,     // FILE_CREATE met something of that name
    Failed,     // anything else: access, sharing, a name the volume refuses, no ntdll entry
};

// The sharing of a held entry: others may read and write, but without delete sharing nobody
// can rename or delete it (and put a link in its place) while we hold it.
constexpr ULONG kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// What NtCreateFile is asked for: access, sharing, FILE_OPEN / FILE_CREATE / FILE_OPEN_IF, and
// FILE_DIRECTORY_FILE or FILE_NON_DIRECTORY_FILE and the like.
struct EntryOpen {
    ACCESS_MASK access;
    ULONG share;
    ULONG disposition;
    ULONG options;
    ULONG attributes = FILE_ATTRIBUTE_NORMAL;  // of what FILE_CREATE makes
};

// Opens or creates `name`, one level, inside the folder `parent`. A link opens as itself on
// Windows (FILE_OPEN_REPARSE_POINT); Wine ignores that flag and follows it, so callers that
// open existing entries check the handle's path (win::PathBelowVolume). `security`, when
// given, is the descriptor of what FILE_CREATE makes.
EntryResult OpenInFolder(HANDLE parent, const std::wstring& name, const EntryOpen& mode,
                         File* opened, PSECURITY_DESCRIPTOR security = nullptr);

// Removes the file `name` (a link as itself) inside the held folder `folder`; true when it went
// or was not there.
bool RemoveInFolder(HANDLE folder, const std::wstring& name);

// Gives the open `file` the new name `name` inside `folder`, the folder it is in. False when
// the name is taken or too long, or the system refuses.
bool RenameInFolder(HANDLE file, HANDLE folder, const std::wstring& name);

}  // namespace win
