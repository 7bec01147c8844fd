#include "sys/instance_guard.h"

#include <windows.h>
#include <psapi.h>
#include <shlwapi.h>

#include <vector>

#include "sys/instance_match.h"
#include "win/handles.h"

namespace sys {

namespace {

const DWORD kOwnPathChars = 2048;
const DWORD kMaxProcesses = 2000;
const DWORD kImageNameChars = 1024;

std::wstring RootlessOwnPath()
{
    std::vector<wchar_t> path(kOwnPathChars, L'\0');
    DWORD length = ::GetModuleFileNameW(nullptr, path.data(), kOwnPathChars);
    if (length == 0 || length >= kOwnPathChars) return std::wstring();
    const wchar_t* rest = ::PathSkipRootW(path.data());
    return rest ? std::wstring(rest) : std::wstring();
}

std::wstring ImageNameOf(DWORD processId)
{
    win::Handle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    if (!process) return std::wstring();
    std::vector<wchar_t> name(kImageNameChars, L'\0');
    DWORD length = ::GetProcessImageFileNameW(process.get(), name.data(), kImageNameChars);
    return std::wstring(name.data(), length);
}

}  // namespace

int IsAnotherInstanceRunning()
{
    const std::wstring own = RootlessOwnPath();
    std::vector<DWORD> ids(kMaxProcesses);
    DWORD bytes = 0;
    // An unreadable process list is no evidence of another copy.
    if (!::EnumProcesses(ids.data(), kMaxProcesses * sizeof(DWORD), &bytes)) return 0;
    const DWORD count = bytes / sizeof(DWORD);
    const DWORD self = ::GetCurrentProcessId();

    unsigned matches = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (ids[i] == self) continue;
        const std::wstring image = ImageNameOf(ids[i]);
        if (!image.empty() && ImageNameMatches(image, own)) ++matches;
    }
    return matches > 0 ? 1 : 0;
}

}  // namespace sys
