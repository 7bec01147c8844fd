#include "win/file_info.h"

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

}  // namespace win
