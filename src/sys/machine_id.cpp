#include "sys/machine_id.h"

#include <windows.h>

#include "win/handles.h"

namespace sys {

std::wstring MachineGuid()
{
    win::RegKey key;
    // KEY_WOW64_64KEY: a 32-bit program is otherwise sent to the WOW6432Node copy, which lacks
    // the value. 32-bit Windows ignores the flag.
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.receive()) != ERROR_SUCCESS) {
        key.release();  // whatever a failed call left there is no key to close
        return std::wstring();
    }
    wchar_t value[65] = {};
    DWORD type = 0;
    DWORD size = sizeof value - sizeof value[0];  // room for a terminator the data may lack
    if (::RegQueryValueExW(key.get(), L"MachineGuid", nullptr, &type,
                           reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    std::wstring guid(value, size / sizeof(wchar_t));
    return guid.substr(0, guid.find(L'\0'));
}

}  // namespace sys
