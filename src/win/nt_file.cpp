#include "win/nt_file.h"

#include "win/syslib.h"

namespace win {

NTSTATUS OpenInFolder(HANDLE parent, const std::wstring& name, const EntryOpen& mode, File* opened,
                      PSECURITY_DESCRIPTOR security)
{
    const auto create = Ntdll().NtCreateFile;
    if (!create) return kStatusProcedureNotFound;
    // One level of at most the longest name a volume stores: UNICODE_STRING counts bytes in
    // 16 bits, and a longer name is no entry of ours anyway.
    if (name.empty() || name.size() > 255) return kStatusNameInvalid;
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, parent, security);
    IO_STATUS_BLOCK status{};
    HANDLE handle = nullptr;
    const NTSTATUS result = create(&handle, mode.access | SYNCHRONIZE, &object, &status, nullptr,
                                   mode.attributes, mode.share, mode.disposition,
                                   mode.options | FILE_OPEN_REPARSE_POINT |
                                       FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
                                   nullptr, 0);
    if (NT_SUCCESS(result)) opened->reset(handle);
    return result;
}

}  // namespace win
