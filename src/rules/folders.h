// Folder paths and the command-line argument that carries one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rules {

// The find and profile functions take paths in MAX_PATH buffers, terminator included.
constexpr size_t kMaxPathChars = 260;

// Length of the root of a drive ("C:\") or share ("\\server\share\", server and share plain
// file names) that `path` starts with, backslash included; 0 when it starts with neither
// ("C:" alone names the drive's current folder, "\\?\" opens the device namespace).
size_t RootLength(const std::wstring& path);

// The temporary folder from the values of the variables TEMP and TMP (empty when unset): TEMP
// when it is set and fits a MAX_PATH buffer, else TMP on the same terms, else empty (there is
// none). The value is kept exactly as the environment gives it, trailing backslash and all.
std::wstring TemporaryFolder(const std::wstring& temp, const std::wstring& tmp);

// `folder` without trailing backslashes, except the one that belongs to a root: "C:\a\" gives
// "C:\a", "E:\" and "\\srv\share\" stay as they are ("E:" alone names the drive's current
// folder, not its root).
std::wstring NormaliseFolder(const std::wstring& folder);

// `name` inside `folder` with one backslash between them, never two: "E:\" and "res" give
// "E:\res", "C:\Temp\" and "a.exe" give "C:\Temp\a.exe".
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The folder part of `path`, as PathRemoveFileSpecW leaves it: "C:\a\b.exe" gives "C:\a",
// "E:\b.exe" gives the root "E:\"; empty when the path has no backslash.
std::wstring ParentFolder(const std::wstring& path);

// One command-line argument, in quotes, as CommandLineToArgvW and the C runtime read it back:
// backslashes before a quote and before the closing quote are doubled, quotes inside are
// escaped. "E:\" becomes "E:\\" in quotes, which reads back as E:\ (a lone backslash there
// would escape the closing quote).
std::wstring QuoteArgument(const std::wstring& argument);

// The new wizard's argument that names the installation's folder: /PATH="<folder>", quoted by
// QuoteArgument, so /PATH="E:\\" for the root of E:.
std::wstring PathArgument(const std::wstring& folder);

// The run's work folder below the temporary folder: "Morvane-" and 32 lower-case hex digits of
// 16 random bytes, a name no one can guess ahead of the run.
constexpr size_t kWorkFolderRandomBytes = 16;
std::wstring WorkFolderName(const unsigned char (&random)[kWorkFolderRandomBytes]);
// True for a name WorkFolderName can give, and only for such a name.
bool IsWorkFolderName(const std::wstring& name);

// A folder's security descriptor as the system reads it back, its accounts sorted into the
// ones the work folder's descriptor names and all others.
enum class Account { Administrators, System, Other };
struct AccessEntry {
    Account account = Account::Other;
    bool allows = true;  // an access-allowed entry; anything else (deny, audit...) is not
    uint32_t mask = 0;   // the access it grants
    uint8_t flags = 0;   // its inheritance flags
};
struct FolderSecurity {
    Account owner = Account::Other;
    bool daclPresent = false;
    bool daclProtected = false;
    std::vector<AccessEntry> entries;
};

// What the work folder's descriptor grants: full control, inherited by folders and files.
constexpr uint32_t kWorkFolderAccess = 0x001F01FF;  // FILE_ALL_ACCESS
constexpr uint8_t kWorkFolderInheritance = 0x03;    // OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE

// True when `security` is the work folder's own: owner Administrators and a protected DACL of
// exactly full control for Administrators and then SYSTEM, inherited by all it holds. Only an
// administrator can make Administrators a folder's owner, so a folder of the work folders' name
// without this descriptor was made (or moved there) by someone else, and is never emptied.
bool IsWorkFolderSecurity(const FolderSecurity& security);

}  // namespace rules
