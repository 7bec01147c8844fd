// WinINet, bound at run time from the system folder: one typed table of the calls Morvane makes.
#pragma once
#include <windows.h>
#include <wininet.h>

namespace win {

struct WinInetApi {
    decltype(&::InternetGetConnectedState) InternetGetConnectedState;
    decltype(&::InternetCheckConnectionW) InternetCheckConnectionW;
    decltype(&::InternetOpenW) InternetOpenW;
    decltype(&::InternetOpenUrlW) InternetOpenUrlW;
    decltype(&::HttpQueryInfoW) HttpQueryInfoW;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable;
    decltype(&::InternetCombineUrlW) InternetCombineUrlW;
    decltype(&::InternetQueryOptionW) InternetQueryOptionW;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
    decltype(&::DeleteUrlCacheEntryW) DeleteUrlCacheEntryW;
};

// Fills `api` with every entry; false when wininet.dll or one of them is missing. The library
// stays loaded for the life of the process, so a copy of the table is good on any thread.
bool BindWinInet(WinInetApi* api);

// An internet handle closed through the table it came from.
class InternetHandle {
public:
    InternetHandle(const WinInetApi& api, HINTERNET handle) : m_api(api), m_handle(handle) {}
    ~InternetHandle()
    {
        if (m_handle) m_api.InternetCloseHandle(m_handle);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    HINTERNET release()
    {
        HINTERNET handle = m_handle;
        m_handle = nullptr;
        return handle;
    }

private:
    const WinInetApi& m_api;
    HINTERNET m_handle;
};

}  // namespace win
