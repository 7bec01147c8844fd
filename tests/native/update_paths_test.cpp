#include "update/update_paths.h"

#include <gtest/gtest.h>

namespace {

settings::Offer OfferOf(const wchar_t* packageName, const wchar_t* exePath)
{
    settings::Offer offer;
    offer.packageName = packageName;
    offer.exePath = exePath;
    return offer;
}

// Everything of the update is named relative to the run's work folder: the package, the folders
// down to the new wizard (the first is what the package unpacks), and the wizard itself.
TEST(UpdatePaths, NamesFollowExePath)
{
    const update::UpdatePaths p =
        update::MakeUpdatePaths(OfferOf(L"KVSetup.exe", L"KV New\\Setup\\KVWizard.exe"));
    EXPECT_EQ(p.packageName, L"KVSetup.exe");
    EXPECT_EQ(p.wizardFolders, (std::vector<std::wstring>{L"KV New", L"Setup"}));
    EXPECT_EQ(p.wizardName, L"KVWizard.exe");
    EXPECT_TRUE(update::IsComplete(p));
    EXPECT_EQ(update::JoinPaths(L"C:\\Windows\\Temp\\W", p.wizardFolders),
              L"C:\\Windows\\Temp\\W\\KV New\\Setup");

    // No offer, or an ExePath without a folder, names nothing: an empty name would be the work
    // folder itself, which the clean-up would then delete.
    const struct {
        const wchar_t* package;
        const wchar_t* exePath;
    } incomplete[] = {{L"", L""},
                      {L"KVSetup.exe", L""},
                      {L"KVSetup.exe", L"KVWizard.exe"},
                      {L"", L"KV\\KVWizard.exe"},
                      {L"KVSetup.exe", L"KV\\\\KVWizard.exe"}};
    for (const auto& row : incomplete)
        EXPECT_FALSE(update::IsComplete(update::MakeUpdatePaths(OfferOf(row.package, row.exePath))))
            << row.package << " " << row.exePath;
}

// Unquoted, "C:\Windows\Temp dir\..." would start a planted "C:\Windows\Temp.exe" first; and the
// folder must read back as it is by CommandLineToArgvW's rule: at a root, "E:\" would read as E:".
TEST(UpdatePaths, CommandLinesQuoteEachArgumentByTheStandardRule)
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
    for (const Row& r : rows)
        EXPECT_EQ(update::NewWizardCommandLine(L"C:\\Temp dir\\KVNew\\Setup.exe", r.appDir),
                  r.want);
    EXPECT_EQ(update::PackageCommandLine(L"C:\\Temp dir\\KVSetup.exe"),
              L"\"C:\\Temp dir\\KVSetup.exe\"");
}

}  // namespace
