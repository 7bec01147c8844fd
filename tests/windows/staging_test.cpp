#include "update/staging.h"

#include <gtest/gtest.h>

#include <string>

#include "sys/runner.h"
#include "sys/trust.h"
#include "test_support.h"

using testing_support::Exists;
using testing_support::FixturePath;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

namespace {

settings::UpdatePaths PathsOf(const settings::Installation& installation, const wchar_t* exePath,
                              const wchar_t* packageName = L"KVSetup.exe")
{
    settings::Offer offer;
    offer.packageName = packageName;
    offer.exePath = exePath;
    return settings::MakeUpdatePaths(installation, offer);
}

// An application folder as staging reads it: the local wizard and a res tree.
void MakeAppFolder(const ScratchDir& app)
{
    ASSERT_TRUE(::CopyFileW(FixturePath(L"runner_helper.exe").c_str(),
                            (app / L"KVWizard.exe").c_str(), FALSE));
    ASSERT_TRUE(::CreateDirectoryW((app / L"res").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((app / L"res\\English").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(app / L"res\\kavro.ini", "[STARTUP]\r\n"));
    ASSERT_TRUE(WriteBytes(app / L"res\\English\\uistrings.ini", "[STARTUP]\r\n"));
}

// The package that was judged is the package that runs: from the check until its process
// exists, another process can neither rewrite, rename, replace nor delete it.
TEST(StagePackage, RunsExactlyTheJudgedPackage)
{
    ScratchDir temp;
    ScratchDir app;
    MakeAppFolder(app);
    const std::wstring package = temp / L"KVSetup.exe";
    ASSERT_TRUE(::CopyFileW(FixturePath(L"pki\\signed-dekavroline.exe").c_str(), package.c_str(),
                            FALSE));
    const std::string judgedBytes = ReadBytes(package);

    win::File judged;
    ASSERT_EQ(sys::VerifyPackage(package, &judged), 1);
    const std::wstring marker = temp / L"tamper.txt";
    ASSERT_EQ(sys::RunProcessAndWait(L"\"" + FixturePath(L"runner_helper.exe") + L"\" \"" +
                                         marker + L"\" tamper \"" + package + L"\"",
                                     true),
              1);
    EXPECT_EQ(ReadBytes(marker), "started show=0 refused refused refused refused finished");

    const settings::Installation installation =
        settings::MakeInstallation(app.path(), temp.path(), L"English");
    const settings::UpdatePaths paths = PathsOf(installation, L"KV New\\KVWizard.exe");
    EXPECT_TRUE(update::ClearExtractedFolder(paths));
    EXPECT_TRUE(update::RunPackage(paths, std::move(judged)));
    EXPECT_TRUE(update::CompleteExtractedFolder(paths, installation));
    EXPECT_EQ(ReadBytes(package), judgedBytes);
    // The folder the package would have made is completed from the application folder.
    EXPECT_TRUE(Exists(temp / L"KV New\\KVWizard.exe"));
    EXPECT_TRUE(Exists(temp / L"KV New\\res\\kavro.ini"));
    EXPECT_TRUE(Exists(temp / L"KV New\\res\\English\\uistrings.ini"));
    EXPECT_TRUE(::DeleteFileW(package.c_str())) << "the package is still locked";
}

TEST(StagePackage, FailsWhenThePackageCannotStartOrTheFolderCannotBeCompleted)
{
    ScratchDir temp;
    ScratchDir app;
    MakeAppFolder(app);
    const settings::Installation installation =
        settings::MakeInstallation(app.path(), temp.path(), L"English");

    settings::UpdatePaths paths = PathsOf(installation, L"KV\\KVWizard.exe", L"missing.exe");
    EXPECT_FALSE(update::RunPackage(paths, win::File()));

    paths = PathsOf(installation, L"Not\\Made\\KVWizard.exe");  // one level is made, never two
    ASSERT_TRUE(::CopyFileW(FixturePath(L"pki\\signed-dekavroline.exe").c_str(),
                            paths.packageFile.c_str(), FALSE));
    EXPECT_FALSE(update::RunPackage(paths, win::File())) << "nothing runs unjudged";
    win::File judged;
    ASSERT_EQ(sys::VerifyPackage(paths.packageFile, &judged), 1);
    EXPECT_TRUE(update::RunPackage(paths, std::move(judged)));
    EXPECT_FALSE(update::CompleteExtractedFolder(paths, installation));
    EXPECT_FALSE(Exists(temp / L"Not"));
}

// Whatever an earlier run, or another program, left where the package will unpack goes
// first, through no link; the package never unpacks beside it.
TEST(StagePackage, AFolderLeftBehindIsRemovedBeforeThePackageRuns)
{
    ScratchDir temp;
    ScratchDir app;
    MakeAppFolder(app);
    const settings::Installation installation =
        settings::MakeInstallation(app.path(), temp.path(), L"English");
    const settings::UpdatePaths paths = PathsOf(installation, L"KV\\KVWizard.exe");
    EXPECT_TRUE(update::ClearExtractedFolder(paths)) << "nothing there is fine";
    ASSERT_TRUE(::CreateDirectoryW((temp / L"KV").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(temp / L"KV\\version.dll", "planted"));
    EXPECT_TRUE(update::ClearExtractedFolder(paths));
    EXPECT_FALSE(Exists(temp / L"KV"));
}

}  // namespace
