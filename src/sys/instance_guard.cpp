#include "sys/instance_guard.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "sys/instance_match.h"
#include "win/handles.h"
#include "win/syslib.h"

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

// The image path in device form. When the system cannot give that form (it needs the drive's
// device name, which a drive without one lacks), the drive-letter form from Vista on: it holds
// the rootless path just the same, and a copy we cannot name must not pass for no copy at all.
std::wstring ImageNameOf(DWORD processId)
{
    win::Handle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    if (!process) return std::wstring();
    std::vector<wchar_t> name(kImageNameChars, L'\0');
    DWORD length =
        win::Psapi().K32GetProcessImageFileNameW(process.get(), name.data(), kImageNameChars);
    // Before Vista the stand-in, built on the device form: it fails where that failed.
    const auto driveForm = win::Kernel32().QueryFullProcessImageNameW;
    if (length == 0 && driveForm) {
        length = kImageNameChars;
        if (!driveForm(process.get(), 0, name.data(), &length)) length = 0;
    }
    return std::wstring(name.data(), length);
}

}  // namespace

int IsAnotherInstanceRunning()
{
    const win::PsapiCalls& psapi = win::Psapi();
    // An unreadable process list is no evidence of another copy.
    if (!win::Present(psapi.K32EnumProcesses, psapi.K32GetProcessImageFileNameW)) return 0;
    const std::wstring own = RootlessOwnPath();
    std::vector<DWORD> ids(kMaxProcesses);
    DWORD bytes = 0;
    if (!psapi.K32EnumProcesses(ids.data(), kMaxProcesses * sizeof(DWORD), &bytes)) return 0;
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
