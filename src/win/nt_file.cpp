#include "win/nt_file.h"

#include "win/syslib.h"

namespace win {
namespace {

constexpr NTSTATUS kStatusNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
constexpr NTSTATUS kStatusNameCollision = static_cast<NTSTATUS>(0xC0000035L);
constexpr NTSTATUS kStatusPathNotFound = static_cast<NTSTATUS>(0xC000003AL);
constexpr NTSTATUS kStatusPathSyntaxBad = static_cast<NTSTATUS>(0xC000003BL);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAL);
constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103L);

// FileRenameInformation, which MSVC's winternl.h leaves out of FILE_INFORMATION_CLASS.
constexpr auto kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);

// FILE_RENAME_INFORMATION, which only the driver kit's headers declare.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[MAX_PATH];
};

EntryResult ResultOf(NTSTATUS status)
{
    if (NT_SUCCESS(status)) return EntryResult::Opened;
    switch (status) {
    case kStatusNameNotFound:
    case kStatusPathNotFound: return EntryResult::Missing;
    case kStatusNotADirectory:
    case kStatusFileIsADirectory: return EntryResult::WrongKind;
    case kStatusNameCollision: return EntryResult::Exists;
    default: return EntryResult::Failed;
    }
}

}  // namespace

EntryResult OpenInFolder(HANDLE parent, const std::wstring& name, const EntryOpen& mode,
                         File* opened, PSECURITY_DESCRIPTOR security)
{
    const auto create = Ntdll().NtCreateFile;
    if (!create) return EntryResult::Failed;
    // One level of at most the longest name a volume stores: UNICODE_STRING counts bytes in
    // 16 bits, and a longer name is no entry of ours anyway.
    if (name.empty() || name.size() > 255) return EntryResult::Failed;
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, parent, security);
    IO_STATUS_BLOCK status{};
    const NTSTATUS result = create(opened->receive(), mode.access | SYNCHRONIZE, &object, &status,
                                   nullptr, mode.attributes, mode.share, mode.disposition,
                                   mode.options | FILE_OPEN_REPARSE_POINT |
                                       FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
                                   nullptr, 0);
    // A failed call hands out no handle: whatever it left in the slot is not closed.
    if (!NT_SUCCESS(result)) opened->release();
    return ResultOf(result);
}

bool RemoveInFolder(HANDLE folder, const std::wstring& name)
{
    // FILE_DELETE_ON_CLOSE, which Windows XP has too: the name goes as the handle closes.
    constexpr EntryOpen kRemove{DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE};
    File file;
    const EntryResult result = OpenInFolder(folder, name, kRemove, &file);
    return result == EntryResult::Opened || result == EntryResult::Missing;
}

bool RenameInFolder(HANDLE file, HANDLE folder, const std::wstring& name)
{
    const auto setInformation = Ntdll().NtSetInformationFile;
    if (!setInformation || name.size() >= MAX_PATH) return false;
    RenameInformation rename{};
    rename.fileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    name.copy(rename.fileName, name.size());
    IO_STATUS_BLOCK status{};
    // Windows renames a bare name within the file's folder; naming the folder as the root
    // instead would open it again, which our handle's sharing refuses. Wine takes only the
    // root form (STATUS_OBJECT_PATH_SYNTAX_BAD for the bare name).
    NTSTATUS result = setInformation(file, &status, &rename, sizeof rename, kFileRenameInformation);
    if (result == kStatusPathSyntaxBad) {
        rename.rootDirectory = folder;
        result = setInformation(file, &status, &rename, sizeof rename, kFileRenameInformation);
    }
    return NT_SUCCESS(result);
}

}  // namespace win
