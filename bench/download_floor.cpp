// The floor of the update benchmark's download: a plain URLDownloadToFileW caller that does
// what Morvane's download worker does (cache entry removed, then the download) and nothing
// else, so the two can be timed side by side.
//   download_floor.exe URL FILE       prints "download_ms N"; exit 0 on success
#include <windows.h>
#include <wininet.h>
#include <urlmon.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 2;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const ULONGLONG start = ::GetTickCount64();
    ::DeleteUrlCacheEntryW(argv[1]);
    const HRESULT result = ::URLDownloadToFileW(nullptr, argv[1], argv[2], 0, nullptr);
    std::printf("download_ms %llu\n", ::GetTickCount64() - start);
    ::CoUninitialize();
    return SUCCEEDED(result) ? 0 : 1;
}
