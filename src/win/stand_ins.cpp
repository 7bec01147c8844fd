#include "win/stand_ins.h"

#include <cwchar>
#include <string>
#include <vector>

#include "win/syslib.h"

namespace win {
namespace stand_in {

namespace {

// The native information classes whose structures match the Win32 classes' layout one to one.
enum NativeClass : int {
    kNativeBasic = 4,
    kNativeStandard = 5,
    kNativeName = 9,
    kNativeRename = 10,
    kNativeDisposition = 13,
    kNativeAllocation = 19,
    kNativeEndOfFile = 20,
    kNativeAttributeTag = 35,
    kNativeIdBothDirectory = 37,
};

BOOL Fail(DWORD error)
{
    ::SetLastError(error);
    return FALSE;
}

// A native call's status as the Win32 call's result: TRUE, or FALSE with the mapped error.
// A warning (STATUS_BUFFER_OVERFLOW for a long name) is a failure too, as in kernel32.
BOOL Answer(NTSTATUS status)
{
    if (status >= 0) return TRUE;
    const auto toError = Ntdll().RtlNtStatusToDosError;
    return Fail(toError ? toError(status) : ERROR_GEN_FAILURE);
}

int QueryClass(FILE_INFO_BY_HANDLE_CLASS infoClass)
{
    switch (infoClass) {
    case FileBasicInfo: return kNativeBasic;
    case FileStandardInfo: return kNativeStandard;
    case FileNameInfo: return kNativeName;
    case FileAttributeTagInfo: return kNativeAttributeTag;
    default: return 0;
    }
}

int SetClass(FILE_INFO_BY_HANDLE_CLASS infoClass)
{
    switch (infoClass) {
    case FileBasicInfo: return kNativeBasic;
    case FileRenameInfo: return kNativeRename;
    case FileDispositionInfo: return kNativeDisposition;
    case FileAllocationInfo: return kNativeAllocation;
    case FileEndOfFileInfo: return kNativeEndOfFile;
    default: return 0;
    }
}

// The drive form of a device path, "" when no drive letter names its device.
std::wstring DriveForm(const std::wstring& devicePath)
{
    std::vector<wchar_t> target(MAX_PATH);
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t drive[] = {letter, L':', 0};
        if (!::QueryDosDeviceW(drive, target.data(), static_cast<DWORD>(target.size()))) continue;
        const std::wstring device(target.data());  // the first of the list: the current target
        if (!device.empty() && devicePath.size() > device.size() &&
            devicePath.compare(0, device.size(), device) == 0 && devicePath[device.size()] == L'\\')
            return drive + devicePath.substr(device.size());
    }
    return std::wstring();
}

}  // namespace

int WINAPI CompareStringOrdinal(LPCWCH a, int countA, LPCWCH b, int countB, BOOL ignoreCase)
{
    const auto upcase = Ntdll().RtlUpcaseUnicodeChar;
    if (!a || !b) return Fail(ERROR_INVALID_PARAMETER);
    if (ignoreCase && !upcase) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    const size_t lengthA = countA < 0 ? std::wcslen(a) : static_cast<size_t>(countA);
    const size_t lengthB = countB < 0 ? std::wcslen(b) : static_cast<size_t>(countB);
    for (size_t i = 0; i < lengthA && i < lengthB; ++i) {
        const WCHAR x = ignoreCase ? upcase(a[i]) : a[i];
        const WCHAR y = ignoreCase ? upcase(b[i]) : b[i];
        if (x != y) return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
    }
    if (lengthA == lengthB) return CSTR_EQUAL;
    return lengthA < lengthB ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}

BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                         LPVOID info, DWORD bytes)
{
    const NtdllCalls& nt = Ntdll();
    IO_STATUS_BLOCK io = {};
    if (infoClass == FileIdBothDirectoryInfo || infoClass == FileIdBothDirectoryRestartInfo) {
        if (!nt.NtQueryDirectoryFile) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
        // Synchronous handles only, as every handle of ours: the call returns when it is done.
        return Answer(
            nt.NtQueryDirectoryFile(file, nullptr, nullptr, nullptr, &io, info, bytes,
                                    static_cast<FILE_INFORMATION_CLASS>(kNativeIdBothDirectory),
                                    FALSE, nullptr, infoClass == FileIdBothDirectoryRestartInfo));
    }
    const int native = QueryClass(infoClass);
    if (!native) return Fail(ERROR_INVALID_PARAMETER);
    if (!nt.NtQueryInformationFile) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    return Answer(nt.NtQueryInformationFile(file, &io, info, bytes,
                                            static_cast<FILE_INFORMATION_CLASS>(native)));
}

BOOL WINAPI SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                       LPVOID info, DWORD bytes)
{
    const int native = SetClass(infoClass);
    if (!native) return Fail(ERROR_INVALID_PARAMETER);
    const auto set = Ntdll().NtSetInformationFile;
    if (!set) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    IO_STATUS_BLOCK io = {};
    return Answer(set(file, &io, info, bytes, static_cast<FILE_INFORMATION_CLASS>(native)));
}

BOOL WINAPI QueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR name, PDWORD size)
{
    const auto imageName = Psapi().K32GetProcessImageFileNameW;
    if (!imageName) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    if (!name || !size) return Fail(ERROR_INVALID_PARAMETER);
    std::vector<wchar_t> device(32768);
    const DWORD length = imageName(process, device.data(), static_cast<DWORD>(device.size()));
    if (length == 0) return FALSE;  // its own error stands
    std::wstring path(device.data(), length);
    if (!(flags & PROCESS_NAME_NATIVE)) {
        path = DriveForm(path);
        if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (path.size() >= *size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    path.copy(name, path.size());
    name[path.size()] = L'\0';
    *size = static_cast<DWORD>(path.size());
    return TRUE;
}

}  // namespace stand_in
}  // namespace win
