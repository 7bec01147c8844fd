// The installation's folders and language as start-up finds them, through the real API.
#include "app/morvane_app.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

TEST(Folders, TemporaryFolderComesFromTempThenTmp)
{
    const std::wstring resDir = testing_support::ExeDir() + L"\\res";
    const bool madeRes = ::CreateDirectoryW(resDir.c_str(), nullptr) != FALSE;
    ::CreateDirectoryW((resDir + L"\\Spanish").c_str(), nullptr);

    ::SetEnvironmentVariableW(L"TEMP", nullptr);
    ::SetEnvironmentVariableW(L"TMP", L"C:\\some where\\");
    app::CMorvaneApp fromTmp;
    EXPECT_EQ(fromTmp.InitFoldersAndLanguage(), 1);
    // A trailing backslash goes, once, here: every path built on the folder has single ones.
    EXPECT_EQ(fromTmp.m_values.installation.tempDir, L"C:\\some where");
    EXPECT_EQ(fromTmp.m_values.installation.appDir, testing_support::ExeDir());
    EXPECT_EQ(fromTmp.m_values.installation.language, L"Spanish");  // the last fallback

    ::SetEnvironmentVariableW(L"temp", L"D:\\t");
    app::CMorvaneApp fromTemp;
    EXPECT_EQ(fromTemp.InitFoldersAndLanguage(), 1);
    EXPECT_EQ(fromTemp.m_values.installation.tempDir, L"D:\\t");

    ::SetEnvironmentVariableW(L"TEMP", nullptr);
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    app::CMorvaneApp neither;
    EXPECT_EQ(neither.InitFoldersAndLanguage(), 0);
    EXPECT_EQ(neither.m_values.installation.appDir, testing_support::ExeDir());
    EXPECT_EQ(neither.m_values.installation.language, L"");

    ::RemoveDirectoryW((resDir + L"\\Spanish").c_str());
    ::SetEnvironmentVariableW(L"TMP", L"C:\\x");
    app::CMorvaneApp noLanguage;
    EXPECT_EQ(noLanguage.InitFoldersAndLanguage(), 0);
    EXPECT_EQ(noLanguage.m_values.installation.language, L"Spanish");
    if (madeRes) ::RemoveDirectoryW(resDir.c_str());
}

}  // namespace
