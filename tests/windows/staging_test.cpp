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

// The signed package tests/e2e/packages.py makes from the stub wizard's folder; it unpacks
// KVSigned.
const wchar_t kPackedFolder[] = L"KVSigned";

settings::UpdatePaths PathsOf(const ScratchDir& work, const wchar_t* exePath)
{
    settings::Offer offer;
    offer.packageName = L"KVSetup.exe";
    offer.exePath = exePath;
    return settings::MakeUpdatePaths(work.path(), offer);
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

win::File PlacePackage(const settings::UpdatePaths& paths)
{
    if (!::CopyFileW(FixturePath(L"pack\\signed-dekavroline.exe").c_str(),
                     paths.packageFile.c_str(), FALSE))
        return win::File();
    win::File judged;
    return sys::VerifyPackage(paths.packageFile, &judged) ? std::move(judged) : win::File();
}

// The package that was judged is the package that runs: from the check until its process
// exists, another process can neither rewrite, rename, replace nor delete it. It runs with the
// work folder as its temporary folder, so it unpacks there.
TEST(StagePackage, RunsExactlyTheJudgedPackageIntoTheWorkFolder)
{
    ScratchDir work;
    ScratchDir app;
    MakeAppFolder(app);
    const settings::UpdatePaths paths = PathsOf(work, L"KVSigned\\KVWizard.exe");
    win::File judged = PlacePackage(paths);
    ASSERT_TRUE(judged);
    const std::string judgedBytes = ReadBytes(paths.packageFile);
    const std::wstring marker = app / L"tamper.txt";
    ASSERT_EQ(sys::RunProcessAndWait(L"\"" + FixturePath(L"runner_helper.exe") + L"\" \"" + marker +
                                         L"\" tamper \"" + paths.packageFile + L"\"",
                                     true),
              1);
    EXPECT_EQ(ReadBytes(marker), "started show=0 refused refused refused refused finished");

    const settings::Installation installation =
        settings::MakeInstallation(app.path(), app.path(), L"English");
    EXPECT_TRUE(update::ClearUnpackedFolder(paths));
    EXPECT_TRUE(update::RunPackage(paths, std::move(judged)));
    EXPECT_TRUE(update::CompleteExtractedFolder(paths, installation));
    EXPECT_EQ(ReadBytes(paths.packageFile), judgedBytes);
    // The package brought its wizard; the res tree is completed from the application folder.
    EXPECT_TRUE(Exists(work / L"KVSigned\\KVWizard.exe"));
    EXPECT_TRUE(Exists(work / L"KVSigned\\res\\kavro.ini"));
    EXPECT_TRUE(Exists(work / L"KVSigned\\res\\English\\uistrings.ini"));
    EXPECT_TRUE(::DeleteFileW(paths.packageFile.c_str())) << "the package is still locked";
}

// The package succeeded only when it ended with its success code and left the folders it
// promised; staging never makes them itself, whatever the package did.
TEST(StagePackage, EveryExitCounts)
{
    ScratchDir app;
    MakeAppFolder(app);
    const settings::Installation installation =
        settings::MakeInstallation(app.path(), app.path(), L"English");
    {
        // Nothing runs unjudged.
        ScratchDir work;
        const settings::UpdatePaths paths = PathsOf(work, L"KVSigned\\KVWizard.exe");
        EXPECT_FALSE(update::RunPackage(paths, win::File()));
    }
    {
        // Something of the folder's name is there already: the extractor writes nothing and
        // ends with its own code; what is there is never completed nor started.
        ScratchDir work;
        const settings::UpdatePaths paths = PathsOf(work, L"KVSigned\\KVWizard.exe");
        win::File judged = PlacePackage(paths);
        ASSERT_TRUE(judged);
        ASSERT_TRUE(::CreateDirectoryW((work / kPackedFolder).c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(work / L"KVSigned\\version.dll", "planted"));
        EXPECT_FALSE(update::RunPackage(paths, std::move(judged)));
        EXPECT_FALSE(Exists(work / L"KVSigned\\KVWizard.exe"));
    }
    {
        // The wizard's folder is one the package does not make: it unpacks and succeeds, but
        // the folder is not made for it.
        ScratchDir work;
        const settings::UpdatePaths paths = PathsOf(work, L"Other\\KVWizard.exe");
        win::File judged = PlacePackage(paths);
        ASSERT_TRUE(judged);
        EXPECT_FALSE(update::RunPackage(paths, std::move(judged)));
        EXPECT_FALSE(Exists(work / L"Other"));
        EXPECT_FALSE(update::CompleteExtractedFolder(paths, installation));
        EXPECT_FALSE(Exists(work / L"Other"));
    }
}

// What an earlier attempt left where the package will unpack goes first, through no link.
TEST(StagePackage, WhatAnEarlierAttemptUnpackedIsRemovedBeforeThePackageRuns)
{
    ScratchDir work;
    const settings::UpdatePaths paths = PathsOf(work, L"KV\\Sub\\KVWizard.exe");
    EXPECT_EQ(paths.unpackedFolder, work / L"KV");
    EXPECT_EQ(paths.extractedFolder, work / L"KV\\Sub");
    EXPECT_TRUE(update::ClearUnpackedFolder(paths)) << "nothing there is fine";
    ASSERT_TRUE(::CreateDirectoryW((work / L"KV").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(work / L"KV\\version.dll", "left"));
    EXPECT_TRUE(update::ClearUnpackedFolder(paths));
    EXPECT_FALSE(Exists(work / L"KV"));
}

}  // namespace
