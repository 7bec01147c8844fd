// Opening and creating one entry inside a held folder, by NtCreateFile relative to the folder's
// handle: no path is looked up again, so nothing put in place of a folder on the way is ever
// reached. The one place the native call is made; the tree walks, the extractor and the
// update's work folder all come here.
#pragma once
#include <windows.h>
#include <winternl.h>

#include <string>

#include "win/handles.h"

namespace win {

constexpr NTSTATUS kStatusNameInvalid = static_cast<NTSTATUS>(0xC0000033L);
constexpr NTSTATUS kStatusNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
constexpr NTSTATUS kStatusNameCollision = static_cast<NTSTATUS>(0xC0000035L);
constexpr NTSTATUS kStatusPathNotFound = static_cast<NTSTATUS>(0xC000003AL);
constexpr NTSTATUS kStatusPathSyntaxBad = static_cast<NTSTATUS>(0xC000003BL);
constexpr NTSTATUS kStatusProcedureNotFound = static_cast<NTSTATUS>(0xC000007AL);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAL);
constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103L);

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
// given, is the descriptor of what FILE_CREATE makes. The NTSTATUS of the call; `opened` holds
// the handle on success.
NTSTATUS OpenInFolder(HANDLE parent, const std::wstring& name, const EntryOpen& mode, File* opened,
                      PSECURITY_DESCRIPTOR security = nullptr);

}  // namespace win
