#include "settings/values.h"

#include <gtest/gtest.h>

namespace {

using settings::MakeInstallation;

TEST(SettingsLayout, PathsFollowTheFoldersAndTheNewWizardsFolder)
{
    const settings::Installation i = MakeInstallation(L"D:\\App", L"C:\\Temp dir", L"French");
    EXPECT_EQ(i.language, L"French");
    EXPECT_EQ(i.resFolder, L"D:\\App\\res");
    EXPECT_EQ(i.languageFolder, L"D:\\App\\res\\French");
    EXPECT_EQ(i.mainSettings, L"D:\\App\\res\\kavro.ini");
    EXPECT_EQ(i.animation, L"D:\\App\\res\\French\\Morvane.gif");
    EXPECT_EQ(i.localWizard, L"D:\\App\\KVWizard.exe");
}

// Installation media at a drive root, and a TEMP that ends in a backslash: no path of the
// installation holds an empty component, and a root keeps the backslash that makes it one.
TEST(SettingsLayout, FoldersAreNormalisedOnceAtARootAndWithTrailingBackslashes)
{
    struct Row {
        const wchar_t* appDir;
        const wchar_t* tempDir;
        const wchar_t* wantApp;
        const wchar_t* wantRes;
        const wchar_t* wantTemp;
    };
    const Row rows[] = {
        {L"E:\\", L"C:\\Temp\\W\\", L"E:\\", L"E:\\res", L"C:\\Temp\\W"},
        {L"E:\\Setup\\\\", L"C:\\Temp\\W", L"E:\\Setup", L"E:\\Setup\\res", L"C:\\Temp\\W"},
        {L"\\\\server\\share\\", L"T:\\", L"\\\\server\\share\\", L"\\\\server\\share\\res",
         L"T:\\"},
        {L"\\\\server\\share\\kv\\", L"C:\\Temp\\W", L"\\\\server\\share\\kv",
         L"\\\\server\\share\\kv\\res", L"C:\\Temp\\W"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.appDir << " " << r.tempDir);
        const settings::Installation i = MakeInstallation(r.appDir, r.tempDir, L"English");
        EXPECT_EQ(i.appDir, r.wantApp);
        EXPECT_EQ(i.resFolder, r.wantRes);
        EXPECT_EQ(i.tempDir, r.wantTemp);
    }
}

}  // namespace
