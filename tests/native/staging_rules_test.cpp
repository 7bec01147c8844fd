#include "ui/staging_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(StagingRules, PathsFollowTheNewWizardsFolder)
{
    const ui::StagingPaths p =
        ui::StagingPathsFor(L"C:\\Temp dir", L"KV New\\Setup\\KVWizard.exe", L"D:\\App");
    EXPECT_EQ(p.newWizard, L"C:\\Temp dir\\KV New\\Setup\\KVWizard.exe");
    EXPECT_EQ(p.extractedFolder, L"C:\\Temp dir\\KV New\\Setup");
    EXPECT_EQ(p.wizardCopy, L"C:\\Temp dir\\KV New\\Setup\\KVWizard.exe");
    EXPECT_EQ(p.targetRes, L"C:\\Temp dir\\KV New\\Setup\\res");
    EXPECT_EQ(p.sourceRes, L"D:\\App\\res");
}

// Unquoted, "C:\Temp dir\..." would start a planted "C:\Temp.exe" first.
TEST(StagingRules, ProgramPathsAreQuotedAndTheWizardGetsTheAppFolder)
{
    const ui::StagingPaths p =
        ui::StagingPathsFor(L"C:\\Temp dir", L"KVNew\\Setup.exe", L"D:\\My App");
    EXPECT_EQ(ui::PackageCommandLine(L"C:\\Temp dir\\KVSetup.exe"), L"\"C:\\Temp dir\\KVSetup.exe\"");
    EXPECT_EQ(ui::NewWizardCommandLine(p, L"D:\\My App"),
              L"\"C:\\Temp dir\\KVNew\\Setup.exe\" /PATH=\"D:\\My App\"");
}

}  // namespace
