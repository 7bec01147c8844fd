#include "ui/staging.h"

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
    const std::string judged = ReadBytes(package);

    ui::StagingJob job;
    ASSERT_EQ(sys::VerifyPackage(package, &job.packageLock), 1);
    const std::wstring marker = temp / L"tamper.txt";
    ASSERT_EQ(sys::RunProcessAndWait(L"\"" + FixturePath(L"runner_helper.exe") + L"\" \"" +
                                         marker + L"\" tamper \"" + package + L"\"",
                                     true),
              1);
    EXPECT_EQ(ReadBytes(marker), "started show=0 refused refused refused refused finished");

    job.packagePath = package;
    job.tempDir = temp.path();
    job.exePath = L"KV New\\KVWizard.exe";
    job.appDir = app.path();
    EXPECT_EQ(ui::StagePackage(job), 1);
    EXPECT_FALSE(job.packageLock) << "the lock outlived the package's start";
    EXPECT_EQ(ReadBytes(package), judged);
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
    ui::StagingJob job;
    job.tempDir = temp.path();
    job.appDir = app.path();
    job.exePath = L"KV\\KVWizard.exe";

    job.packagePath = temp / L"missing.exe";
    EXPECT_EQ(ui::StagePackage(job), 0);
    EXPECT_FALSE(Exists(temp / L"KV")) << "nothing is staged without a package run";

    job.packagePath = temp / L"KVSetup.exe";
    ASSERT_TRUE(::CopyFileW(FixturePath(L"pki\\signed-dekavroline.exe").c_str(),
                            job.packagePath.c_str(), FALSE));
    job.exePath = L"Not\\Made\\KVWizard.exe";  // one level is made, never two
    EXPECT_EQ(ui::StagePackage(job), 0);
    EXPECT_FALSE(Exists(temp / L"Not"));
}

}  // namespace
