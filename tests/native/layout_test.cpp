#include "settings/values.h"

#include <gtest/gtest.h>

namespace {

using settings::MakeInstallation;
using settings::MakeUpdatePaths;

settings::Offer OfferOf(const wchar_t* packageName, const wchar_t* exePath)
{
    settings::Offer offer;
    offer.packageName = packageName;
    offer.exePath = exePath;
    return offer;
}

TEST(SettingsLayout, PathsFollowTheFoldersAndTheNewWizardsFolder)
{
    const settings::Installation i = MakeInstallation(L"D:\\App", L"C:\\Temp dir", L"French");
    EXPECT_EQ(i.language, L"French");
    EXPECT_EQ(i.resFolder, L"D:\\App\\res");
    EXPECT_EQ(i.languageFolder, L"D:\\App\\res\\French");
    EXPECT_EQ(i.mainSettings, L"D:\\App\\res\\kavro.ini");
    EXPECT_EQ(i.animation, L"D:\\App\\res\\French\\Morvane.gif");
    EXPECT_EQ(i.localWizard, L"D:\\App\\KVWizard.exe");

    // Everything of the update lies in the run's work folder.
    const settings::UpdatePaths p = MakeUpdatePaths(
        L"C:\\Temp dir\\W", OfferOf(L"KVSetup.exe", L"KV New\\Setup\\KVWizard.exe"));
    EXPECT_EQ(p.workFolder, L"C:\\Temp dir\\W");
    EXPECT_EQ(p.packageFile, L"C:\\Temp dir\\W\\KVSetup.exe");
    EXPECT_EQ(p.unpackedFolder, L"C:\\Temp dir\\W\\KV New");
    EXPECT_EQ(p.newWizard, L"C:\\Temp dir\\W\\KV New\\Setup\\KVWizard.exe");
    EXPECT_EQ(p.extractedFolder, L"C:\\Temp dir\\W\\KV New\\Setup");
    EXPECT_EQ(p.wizardCopy, L"C:\\Temp dir\\W\\KV New\\Setup\\KVWizard.exe");
    EXPECT_EQ(p.targetRes, L"C:\\Temp dir\\W\\KV New\\Setup\\res");

    // No offer names no file: joined, an empty name would be the work folder itself, which
    // the clean-up would then delete.
    const settings::UpdatePaths none = MakeUpdatePaths(L"C:\\Temp dir\\W", OfferOf(L"", L""));
    EXPECT_EQ(none.packageFile, L"");
    EXPECT_EQ(none.unpackedFolder, L"");
    EXPECT_EQ(none.newWizard, L"");
    EXPECT_EQ(none.extractedFolder, L"");
    EXPECT_EQ(none.wizardCopy, L"");
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
        const wchar_t* wantPackage;
    };
    const Row rows[] = {
        {L"E:\\", L"C:\\Temp\\W\\", L"E:\\", L"E:\\res", L"C:\\Temp\\W\\KVSetup.exe"},
        {L"E:\\Setup\\\\", L"C:\\Temp\\W", L"E:\\Setup", L"E:\\Setup\\res",
         L"C:\\Temp\\W\\KVSetup.exe"},
        {L"\\\\server\\share\\", L"T:\\W", L"\\\\server\\share\\", L"\\\\server\\share\\res",
         L"T:\\W\\KVSetup.exe"},
        {L"\\\\server\\share\\kv\\", L"C:\\Temp\\W", L"\\\\server\\share\\kv",
         L"\\\\server\\share\\kv\\res", L"C:\\Temp\\W\\KVSetup.exe"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.appDir << " " << r.tempDir);
        const settings::Installation i = MakeInstallation(r.appDir, r.tempDir, L"English");
        EXPECT_EQ(i.appDir, r.wantApp);
        EXPECT_EQ(i.resFolder, r.wantRes);
        const settings::UpdatePaths p =
            MakeUpdatePaths(r.tempDir, OfferOf(L"KVSetup.exe", L"KV\\KVWizard.exe"));
        EXPECT_EQ(p.packageFile, r.wantPackage);
        EXPECT_EQ(p.newWizard.find(L"\\\\", 2), std::wstring::npos) << p.newWizard;
    }
}

// Unquoted, "C:\Temp dir\..." would start a planted "C:\Temp.exe" first; and the folder must
// read back as it is by CommandLineToArgvW's rule: at a root, "E:\" would read as E:".
TEST(SettingsLayout, CommandLinesQuoteEachArgumentByTheStandardRule)
{
    struct Row {
        const wchar_t* appDir;
        const wchar_t* want;
    };
    const Row rows[] = {
        {L"D:\\My App", L"\"C:\\Temp dir\\KVNew\\Setup.exe\" /PATH=\"D:\\My App\""},
        {L"E:\\", L"\"C:\\Temp dir\\KVNew\\Setup.exe\" /PATH=\"E:\\\\\""},
        {L"\\\\srv\\share\\", L"\"C:\\Temp dir\\KVNew\\Setup.exe\" /PATH=\"\\\\srv\\share\\\\\""},
    };
    for (const Row& r : rows) {
        const settings::Installation i = MakeInstallation(r.appDir, L"C:\\Temp dir", L"English");
        const settings::UpdatePaths p =
            MakeUpdatePaths(L"C:\\Temp dir", OfferOf(L"KVSetup.exe", L"KVNew\\Setup.exe"));
        EXPECT_EQ(settings::NewWizardCommandLine(p, i), r.want);
        EXPECT_EQ(settings::PackageCommandLine(p), L"\"C:\\Temp dir\\KVSetup.exe\"");
    }
}

}  // namespace
