#include "win/syslib.h"

#include <gtest/gtest.h>

TEST(SystemLibrary, BindsExportsFromTheSystemFolder)
{
    EXPECT_NE(win::SystemProc(L"wininet.dll", "InternetGetConnectedState"), nullptr);
    EXPECT_EQ(win::SystemProc(L"wininet.dll", "NoSuchExport"), nullptr);
    EXPECT_EQ(win::SystemProc(L"no-such-library.dll", "Anything"), nullptr);
}
