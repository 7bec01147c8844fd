#include "win/environment.h"

#include <windows.h>

namespace win {

std::wstring EnvironmentVariable(const wchar_t* name)
{
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::wstring();
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, &value[0], size);
    // A value that grew between the two calls is read as unset rather than cut.
    if (length == 0 || length >= size) return std::wstring();
    value.resize(length);
    return value;
}

}  // namespace win
