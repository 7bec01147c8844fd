#include "win/file_info.h"

#include "win/handles.h"
#include "win/syslib.h"

#include <cstring>
#include <vector>

#include "win/syslib.h"

namespace win {

std::wstring PathBelowVolume(HANDLE handle)
{
    std::vector<DWORD> buffer(512);
    for (;;) {
        const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
        auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
        if (win::Kernel32().GetFileInformationByHandleEx(handle, FileNameInfo, name, bytes))
            return std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t));
        if (::GetLastError() != ERROR_MORE_DATA || name->FileNameLength + sizeof(DWORD) <= bytes)
            return std::wstring();
        buffer.resize(name->FileNameLength / sizeof(DWORD) + 2);
    }
}

bool FileSize(HANDLE file, unsigned long long* size)
{
    LARGE_INTEGER value = {};
    if (!::GetFileSizeEx(file, &value)) return false;
    *size = static_cast<unsigned long long>(value.QuadPart);
    return true;
}

namespace {

// FILE_ID_INFO and its class, which mingw-w64 declares only for Windows 8 and later.
const FILE_INFO_BY_HANDLE_CLASS kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInfo {
    ULONGLONG VolumeSerialNumber;
    BYTE FileId[16];
};

// "C:\a\b.exe" (or "\\?\C:\a\b.exe") names "\a\b.exe" on its volume; other forms
// (shares, device paths) give nothing and are refused.
std::wstring BelowDrive(const std::wstring& path)
{
    const size_t skip = path.compare(0, 4, L"\\\\?\\") == 0 ? 4 : 0;
    if (path.size() < skip + 3 || path[skip + 1] != L':' || path[skip + 2] != L'\\')
        return std::wstring();
    return path.substr(skip + 2);
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return !a.empty() &&
           win::Kernel32().CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool SameFile(HANDLE a, HANDLE b)
{
    FileIdInfo idA{}, idB{};
    if (win::Kernel32().GetFileInformationByHandleEx(a, kFileIdInfo, &idA, sizeof idA) &&
        win::Kernel32().GetFileInformationByHandleEx(b, kFileIdInfo, &idB, sizeof idB))
        return idA.VolumeSerialNumber == idB.VolumeSerialNumber &&
               std::memcmp(&idA.FileId, &idB.FileId, sizeof idA.FileId) == 0;
    BY_HANDLE_FILE_INFORMATION infoA, infoB;
    return ::GetFileInformationByHandle(a, &infoA) && ::GetFileInformationByHandle(b, &infoB) &&
           infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
           infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
           infoA.nFileIndexLow == infoB.nFileIndexLow;
}

bool SetDeleteOnClose(HANDLE file, bool remove)
{
    const auto setInfo = Kernel32().SetFileInformationByHandle;
    if (!setInfo) return false;
    FILE_DISPOSITION_INFO info = {};
    info.DeleteFile = remove ? TRUE : FALSE;
    return setInfo(file, FileDispositionInfo, &info, sizeof info) != FALSE;
}

bool LinkCount(HANDLE file, unsigned long* links)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file, &info)) return false;
    *links = info.nNumberOfLinks;
    return true;
}

bool PathNamesHeld(const std::wstring& path, HANDLE held)
{
    const File opened(::CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    return opened && ::GetFileInformationByHandle(opened.get(), &info) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           SameFile(opened.get(), held) &&
           SameText(BelowDrive(path), PathBelowVolume(opened.get()));
}

}  // namespace win
