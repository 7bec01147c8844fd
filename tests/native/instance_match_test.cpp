#include "sys/instance_match.h"

#include <gtest/gtest.h>

#include <string>

TEST(InstanceMatch, IsACaseSensitiveSubstringOfTheDevicePath)
{
    const std::wstring own = L"tmp\\app\\Morvane.exe";
    EXPECT_TRUE(sys::ImageNameMatches(L"\\Device\\HarddiskVolume1\\tmp\\app\\Morvane.exe", own));
    EXPECT_TRUE(sys::ImageNameMatches(L"\\Device\\HarddiskVolume2\\x\\tmp\\app\\Morvane.exe", own));
    EXPECT_FALSE(sys::ImageNameMatches(L"\\Device\\HarddiskVolume1\\tmp\\other\\Morvane.exe", own));
    EXPECT_FALSE(sys::ImageNameMatches(L"\\Device\\HarddiskVolume1\\TMP\\APP\\MORVANE.EXE", own));
    EXPECT_FALSE(sys::ImageNameMatches(L"\\Device\\HarddiskVolume1\\anything.exe", L""));
}
