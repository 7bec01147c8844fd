#include "win/wininet.h"

#include "win/syslib.h"

namespace win {

namespace {

template <class Fn>
bool Bind(HMODULE module, const char* name, Fn* entry)
{
    *entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return *entry != nullptr;
}

}  // namespace

bool BindWinInet(WinInetApi* api)
{
    HMODULE module = LoadSystemLibrary(L"wininet.dll");
    return module && Bind(module, "InternetGetConnectedState", &api->InternetGetConnectedState) &&
           Bind(module, "InternetCheckConnectionW", &api->InternetCheckConnectionW) &&
           Bind(module, "InternetOpenW", &api->InternetOpenW) &&
           Bind(module, "InternetOpenUrlW", &api->InternetOpenUrlW) &&
           Bind(module, "HttpQueryInfoW", &api->HttpQueryInfoW) &&
           Bind(module, "InternetReadFile", &api->InternetReadFile) &&
           Bind(module, "InternetQueryDataAvailable", &api->InternetQueryDataAvailable) &&
           Bind(module, "InternetCombineUrlW", &api->InternetCombineUrlW) &&
           Bind(module, "InternetQueryOptionW", &api->InternetQueryOptionW) &&
           Bind(module, "InternetCloseHandle", &api->InternetCloseHandle) &&
           Bind(module, "DeleteUrlCacheEntryW", &api->DeleteUrlCacheEntryW);
}

}  // namespace win
