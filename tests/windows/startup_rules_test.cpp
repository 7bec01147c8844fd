// The start-up rules that must agree with the system's own helpers.
#include "app/startup_rules.h"

#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The update check names the control file's copy and the package by the portable file-name
// rule (which the fuzz target explores); it must cut where the shell's helper cuts.
TEST(FileNamePart, CutsWhereTheShellsFileNameHelperCuts)
{
    const wchar_t* paths[] = {
        L"http://h/pkg/KVSetup.exe",
        L"http://h/pkg/",
        L"http://h/pkg//",
        L"http://h",
        L"http://h/a\\b.exe",
        L"http://h/a:b.exe",
        L"http://h/a:/b",
        L"http://h/a:",
        L"C:\\x\\y.ini",
        L"C:",
        L"C:\\",
        L"\\\\h\\s\\p.exe",
        L"a\\\\b",
        L"/",
        L"//",
        L"",
        L"x",
        L"a/b/",
        L"file:///C:/p.exe",
        L"http://h/p.exe?x=1/y",
        L":::",
    };
    for (const wchar_t* path : paths)
        EXPECT_EQ(app::FileNamePart(path), std::wstring(::PathFindFileNameW(path))) << path;
}

}  // namespace
