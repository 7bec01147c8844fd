#include "sys/download.h"

#include <windows.h>
#include <shlwapi.h>

#include "win/syslib.h"

#ifndef FLAG_ICC_FORCE_CONNECTION
#define FLAG_ICC_FORCE_CONNECTION 0x00000001
#endif

namespace sys {
namespace {

using InternetGetConnectedStateFn = BOOL(WINAPI*)(LPDWORD, DWORD);
using InternetCheckConnectionFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD);
using DeleteUrlCacheEntryFn = BOOL(WINAPI*)(LPCWSTR);
using UrlDownloadToFileFn = HRESULT(WINAPI*)(IUnknown*, LPCWSTR, LPCWSTR, DWORD, void*);

// Never take a file from an earlier cached copy; no entry to remove is not a failure.
void RemoveCacheEntry(const std::wstring& url)
{
    auto deleteCacheEntry =
        win::SystemFunction<DeleteUrlCacheEntryFn>(L"wininet.dll", "DeleteUrlCacheEntryW");
    if (deleteCacheEntry) deleteCacheEntry(url.c_str());
}

int FetchToFile(const std::wstring& url, const std::wstring& file)
{
    auto download = win::SystemFunction<UrlDownloadToFileFn>(L"urlmon.dll", "URLDownloadToFileW");
    if (!download) return 0;
    if (::StrCmpNIW(url.c_str(), L"https:", 6) == 0)
        win::PreloadSystemLibraries(win::OnDemand::Https);
    RemoveCacheEntry(url);
    return download(nullptr, url.c_str(), file.c_str(), 0, nullptr) >= 0 ? 1 : 0;
}

}  // namespace

int IsServerReachable(const wchar_t* url)
{
    auto connectedState = win::SystemFunction<InternetGetConnectedStateFn>(
        L"wininet.dll", "InternetGetConnectedState");
    auto checkConnection = win::SystemFunction<InternetCheckConnectionFn>(
        L"wininet.dll", "InternetCheckConnectionW");
    if (!connectedState || !checkConnection) return 0;
    DWORD flags = 0;
    if (!connectedState(&flags, 0)) return 0;
    return checkConnection(url, FLAG_ICC_FORCE_CONNECTION, 0) ? 1 : 0;
}

int DownloadToFile(const std::wstring& url, const std::wstring& localPath)
{
    if (!::PathIsURLW(url.c_str())) return 0;
    if (localPath.size() >= MAX_PATH) return 0;
    wchar_t folder[MAX_PATH];
    lstrcpynW(folder, localPath.c_str(), MAX_PATH);
    if (!::PathRemoveFileSpecW(folder)) return 0;
    if (!::PathIsDirectoryW(folder)) return 0;
    return FetchToFile(url, localPath);
}

int DownloadPackageFile(const std::wstring& url, const std::wstring& file)
{
    return FetchToFile(url, file);
}

}  // namespace sys
