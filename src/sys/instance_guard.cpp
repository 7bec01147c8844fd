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

using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using GetProcessImageFileNameFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD);
using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, DWORD*);

// The process-status calls live in kernel32 from Windows 7 on and in psapi.dll before; the
// import library would tie the executable to one of them, so both are looked up here.
template <class Fn>
Fn ProcessStatusFunction(const char* name)
{
    char kernelName[64] = "K32";
    lstrcpynA(kernelName + 3, name, static_cast<int>(sizeof kernelName) - 3);
    if (auto fn = win::SystemFunction<Fn>(L"kernel32.dll", kernelName)) return fn;
    return win::SystemFunction<Fn>(L"psapi.dll", name);
}

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
struct ImageNameCalls {
    GetProcessImageFileNameFn deviceForm;
    QueryFullProcessImageNameFn driveForm;  // null before Vista
};

std::wstring ImageNameOf(const ImageNameCalls& calls, DWORD processId)
{
    win::Handle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    if (!process) return std::wstring();
    std::vector<wchar_t> name(kImageNameChars, L'\0');
    DWORD length = calls.deviceForm(process.get(), name.data(), kImageNameChars);
    if (length == 0 && calls.driveForm) {
        length = kImageNameChars;
        if (!calls.driveForm(process.get(), 0, name.data(), &length)) length = 0;
    }
    return std::wstring(name.data(), length);
}

}  // namespace

int IsAnotherInstanceRunning()
{
    auto enumProcesses = ProcessStatusFunction<EnumProcessesFn>("EnumProcesses");
    const ImageNameCalls imageName = {
        ProcessStatusFunction<GetProcessImageFileNameFn>("GetProcessImageFileNameW"),
        win::SystemFunction<QueryFullProcessImageNameFn>(L"kernel32.dll",
                                                         "QueryFullProcessImageNameW")};
    // An unreadable process list is no evidence of another copy.
    if (!enumProcesses || !imageName.deviceForm) return 0;
    const std::wstring own = RootlessOwnPath();
    std::vector<DWORD> ids(kMaxProcesses);
    DWORD bytes = 0;
    if (!enumProcesses(ids.data(), kMaxProcesses * sizeof(DWORD), &bytes)) return 0;
    const DWORD count = bytes / sizeof(DWORD);
    const DWORD self = ::GetCurrentProcessId();

    unsigned matches = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (ids[i] == self) continue;
        const std::wstring image = ImageNameOf(imageName, ids[i]);
        if (!image.empty() && ImageNameMatches(image, own)) ++matches;
    }
    return matches > 0 ? 1 : 0;
}

}  // namespace sys
