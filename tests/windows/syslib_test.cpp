#include "win/syslib.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length);
}

std::wstring LoadedPath(const wchar_t* name)
{
    HMODULE module = ::GetModuleHandleW(name);
    if (!module) return std::wstring();
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

}  // namespace

TEST(SystemLibrary, BindsExportsFromTheSystemFolder)
{
    EXPECT_NE(win::SystemProc(L"wininet.dll", "InternetGetConnectedState"), nullptr);
    EXPECT_EQ(win::SystemProc(L"wininet.dll", "NoSuchExport"), nullptr);
    EXPECT_EQ(win::SystemProc(L"no-such-library.dll", "Anything"), nullptr);
}

// One helper of each set, loaded only by its set: after the preload it is in memory, from the
// system folder, so a later load by name finds that copy.
TEST(SystemLibrary, PreloadTakesEachSetFromTheSystemFolder)
{
    const struct {
        win::OnDemand when;
        const wchar_t* name;
    } cases[] = {
        {win::OnDemand::Start, L"dnsapi.dll"},
        {win::OnDemand::Https, L"secur32.dll"},
        {win::OnDemand::Window, L"msimg32.dll"},
        {win::OnDemand::Trust, L"imagehlp.dll"},
    };
    const std::wstring folder = SystemFolder() + L"\\";
    for (const auto& c : cases) {
        win::PreloadSystemLibraries(c.when);
        const std::wstring path = LoadedPath(c.name);
        EXPECT_EQ(::CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()),
                                         folder.c_str(), -1, TRUE),
                  CSTR_EQUAL)
            << static_cast<int>(c.when) << " " << testing::PrintToString(path);
    }
}
