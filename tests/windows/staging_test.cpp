#include "update/staging.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/folders.h"
#include "sys/directory_tree.h"
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
const wchar_t kPackageName[] = L"KVSetup.exe";

// A run's work folder, made as the update makes it, with the names of one offer in it.
struct Work {
    explicit Work(const wchar_t* exePath) : folder(new update::WorkFolder)
    {
        settings::Offer offer;
        offer.packageName = kPackageName;
        offer.exePath = exePath;
        paths = update::MakeUpdatePaths(offer);
        made = folder->Make();
        path = folder->CheckedPath();
    }
    ~Work() { folder->Remove(); }
    std::wstring operator/(const std::wstring& name) const { return rules::JoinPath(path, name); }

    win::Shared<update::WorkFolder> folder;
    update::UpdatePaths paths;
    bool made = false;
    std::wstring path;
};

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

// The signed test package placed in the work folder and judged there, through its handle.
win::File PlacePackage(const Work& work)
{
    if (!work.made || !::CopyFileW(FixturePath(L"pack\\signed-dekavroline.exe").c_str(),
                                   (work / kPackageName).c_str(), FALSE))
        return win::File();
    sys::JudgedFile judged;
    return sys::CheckOpenedPackage(work / kPackageName,
                                   sys::OpenLockedIn(work.folder->handle(), kPackageName),
                                   sys::KeyPins(), &judged) == sys::PackageVerdict::Accepted
               ? std::move(judged.file)
               : win::File();
}

// The package that was judged is the package that runs: from the check until its process
// exists, another process can neither rewrite, rename, replace nor delete it. It runs with the
// work folder as its temporary folder, so it unpacks there.
TEST(StagePackage, RunsExactlyTheJudgedPackageIntoTheWorkFolder)
{
    Work work(L"KVSigned\\KVWizard.exe");
    ScratchDir app;
    MakeAppFolder(app);
    win::File judged = PlacePackage(work);
    ASSERT_TRUE(judged);
    const std::wstring package = work / kPackageName;
    const std::string judgedBytes = ReadBytes(package);
    const std::wstring marker = app / L"tamper.txt";
    ASSERT_EQ(sys::RunProcessAndWait(L"\"" + FixturePath(L"runner_helper.exe") + L"\" \"" + marker +
                                         L"\" tamper \"" + package + L"\"",
                                     true),
              1);
    EXPECT_EQ(ReadBytes(marker), "started show=0 refused refused refused refused finished");

    const settings::Installation installation =
        settings::MakeInstallation(app.path(), app.path(), L"English");
    update::ExtractedFolder extracted;
    EXPECT_TRUE(update::ClearUnpackedFolder(*work.folder, work.paths));
    EXPECT_TRUE(update::RunPackage(*work.folder, work.paths, std::move(judged), &extracted));
    EXPECT_EQ(extracted.CheckedPath(), work / kPackedFolder);
    EXPECT_TRUE(update::CompleteExtractedFolder(extracted, work.paths, installation));
    EXPECT_EQ(ReadBytes(package), judgedBytes);
    // The package brought its wizard; the res tree is completed from the application folder.
    EXPECT_TRUE(Exists(work / L"KVSigned\\KVWizard.exe"));
    EXPECT_TRUE(Exists(work / L"KVSigned\\res\\kavro.ini"));
    EXPECT_TRUE(Exists(work / L"KVSigned\\res\\English\\uistrings.ini"));
    EXPECT_TRUE(::DeleteFileW(package.c_str())) << "the package is still locked";
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
        Work work(L"KVSigned\\KVWizard.exe");
        update::ExtractedFolder extracted;
        EXPECT_FALSE(update::RunPackage(*work.folder, work.paths, win::File(), &extracted));
    }
    {
        // Something of the folder's name is there already: the extractor writes nothing and
        // ends with its own code; what is there is never completed nor started.
        Work work(L"KVSigned\\KVWizard.exe");
        win::File judged = PlacePackage(work);
        ASSERT_TRUE(judged);
        ASSERT_TRUE(::CreateDirectoryW((work / kPackedFolder).c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(work / L"KVSigned\\version.dll", "planted"));
        update::ExtractedFolder extracted;
        EXPECT_FALSE(update::RunPackage(*work.folder, work.paths, std::move(judged), &extracted));
        EXPECT_FALSE(Exists(work / L"KVSigned\\KVWizard.exe"));
    }
    {
        // The wizard's folder is one the package does not make: it unpacks and succeeds, but
        // the folder is not made for it.
        Work work(L"Other\\KVWizard.exe");
        win::File judged = PlacePackage(work);
        ASSERT_TRUE(judged);
        update::ExtractedFolder extracted;
        EXPECT_FALSE(update::RunPackage(*work.folder, work.paths, std::move(judged), &extracted));
        EXPECT_FALSE(extracted.handle.valid());
        EXPECT_FALSE(Exists(work / L"Other"));
    }
}

// What an earlier attempt left where the package will unpack goes first, through no link.
TEST(StagePackage, WhatAnEarlierAttemptUnpackedIsRemovedBeforeThePackageRuns)
{
    Work work(L"KV\\Sub\\KVWizard.exe");
    ASSERT_TRUE(work.made);
    EXPECT_EQ(work.paths.wizardFolders, (std::vector<std::wstring>{L"KV", L"Sub"}));
    EXPECT_TRUE(update::ClearUnpackedFolder(*work.folder, work.paths)) << "nothing there is fine";
    ASSERT_TRUE(::CreateDirectoryW((work / L"KV").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(work / L"KV\\version.dll", "left"));
    EXPECT_TRUE(update::ClearUnpackedFolder(*work.folder, work.paths));
    EXPECT_FALSE(Exists(work / L"KV"));
}

// A file of the installation with a second name (a hard link whoever may write a writable
// installation can make to a file they may not read) is never copied into the work folder: in
// res it is skipped as a link is, and a local wizard with a second name is not copied in.
TEST(StagePackage, FilesWithASecondNameAreNeverCopied)
{
    ScratchDir app, elsewhere;
    MakeAppFolder(app);
    ASSERT_TRUE(WriteBytes(elsewhere / L"secret.txt", "not the user's to read"));
    ASSERT_TRUE(::CreateHardLinkW((app / L"res\\secret.ini").c_str(),
                                  (elsewhere / L"secret.txt").c_str(), nullptr));
    const settings::Installation installation =
        settings::MakeInstallation(app.path(), app.path(), L"English");
    Work work(L"KVNew\\KVWizard.exe");
    ASSERT_TRUE(work.made);
    ASSERT_TRUE(::CreateDirectoryW((work / L"KVNew").c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(FixturePath(L"runner_helper.exe").c_str(),
                            (work / L"KVNew\\KVWizard.exe").c_str(), FALSE));
    update::ExtractedFolder extracted;
    extracted.path = work / L"KVNew";
    ASSERT_TRUE(sys::OpenFolderIn(work.folder->handle(), L"KVNew", sys::FolderUse::Existing,
                                  &extracted.handle));
    EXPECT_TRUE(update::CompleteExtractedFolder(extracted, work.paths, installation));
    EXPECT_TRUE(Exists(work / L"KVNew\\res\\kavro.ini"));
    EXPECT_FALSE(Exists(work / L"KVNew\\res\\secret.ini"));
    extracted = update::ExtractedFolder();

    // The local wizard with a second name: the folder cannot be completed.
    ASSERT_TRUE(::DeleteFileW((app / L"KVWizard.exe").c_str()));
    ASSERT_TRUE(::CreateHardLinkW((app / L"KVWizard.exe").c_str(),
                                  FixturePath(L"runner_helper.exe").c_str(), nullptr));
    Work second(L"KVNew\\Setup.exe");
    ASSERT_TRUE(::CreateDirectoryW((second / L"KVNew").c_str(), nullptr));
    extracted.path = second / L"KVNew";
    ASSERT_TRUE(sys::OpenFolderIn(second.folder->handle(), L"KVNew", sys::FolderUse::Existing,
                                  &extracted.handle));
    EXPECT_FALSE(update::CompleteExtractedFolder(extracted, second.paths, installation));
    EXPECT_FALSE(Exists(second / L"KVNew\\KVWizard.exe"));
}

}  // namespace
