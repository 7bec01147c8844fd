#include "update/work_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rules/folders.h"
#include "test_support.h"
#include "win/security.h"

using testing_support::Exists;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::UnixName;
using testing_support::WriteBytes;

namespace {

std::vector<std::wstring> Listing(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return names;
}

std::wstring NameOf(const std::wstring& path) { return path.substr(path.rfind(L'\\') + 1); }

// A fresh folder of an unguessable name, held so that nobody renames it or deletes it while the
// update works in it, and removed whole, through its handle, at the end.
TEST(WorkFolder, IsMadeFreshHeldAndRemovedWhole)
{
    ScratchDir temp;
    win::Shared<update::WorkFolder> work(new update::WorkFolder);
    ASSERT_TRUE(work->Make(temp.path()));
    const std::wstring path = work->path();
    EXPECT_TRUE(rules::IsWorkFolderName(NameOf(path))) << path;
    EXPECT_EQ(path, temp / NameOf(path));

    win::Shared<update::WorkFolder> second(new update::WorkFolder);
    ASSERT_TRUE(second->Make(temp.path()));
    EXPECT_NE(second->path(), path) << "each run has a folder of its own";
    EXPECT_TRUE(second->Remove());

    // What the update puts inside goes with it, nested folders and read-only files too.
    ASSERT_TRUE(::CreateDirectoryW((path + L"\\KVNew").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((path + L"\\KVNew\\res").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(path + L"\\KVSetup.exe", "package"));
    ASSERT_TRUE(WriteBytes(path + L"\\KVNew\\res\\a.ini", "x"));
    // Held without delete sharing: it cannot be renamed away and another put in its place.
    EXPECT_FALSE(::MoveFileW(path.c_str(), (temp / L"moved").c_str()));
    EXPECT_FALSE(::RemoveDirectoryW(path.c_str()));
    EXPECT_TRUE(Exists(path));

    EXPECT_TRUE(work->Remove());
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(work->Remove()) << "a second removal finds nothing to do";
    EXPECT_TRUE(Listing(temp.path()).empty());
}

// Elevated, the folder is the administrators' alone: owner Administrators, a protected DACL
// (nothing of the user's rights on the temporary folder inherited) granting full control to
// Administrators and SYSTEM and read and execute to the user, inherited by all it holds.
TEST(WorkFolder, ElevatedOnlyAdministratorsMayWriteIt)
{
    ASSERT_TRUE(win::IsElevated()) << "Wine runs programs as an administrator";
    ScratchDir temp;
    win::Shared<update::WorkFolder> work(new update::WorkFolder);
    ASSERT_TRUE(work->Make(temp.path()));
    testing_support::ExpectAdminOnlyFolder(work->path(), temp / L"plain");
    EXPECT_TRUE(work->Remove());
}

// Made, never opened: whatever waits in the temporary folder is never the work folder.
TEST(WorkFolder, IsNeverWhatWasThereBefore)
{
    ScratchDir temp;
    ASSERT_TRUE(WriteBytes(temp / L"KVNew", "a file of a name the update once used"));
    win::Shared<update::WorkFolder> work(new update::WorkFolder);
    ASSERT_TRUE(work->Make(temp.path()));
    EXPECT_TRUE(Listing(work->path()).empty()) << "fresh and empty";
    const std::wstring first = work->path();
    EXPECT_TRUE(work->Make(temp.path())) << "made once; a second Make keeps the first";
    EXPECT_EQ(work->path(), first);
    EXPECT_TRUE(work->Remove());
    EXPECT_EQ(ReadBytes(temp / L"KVNew"), "a file of a name the update once used");

    win::Shared<update::WorkFolder> nowhere(new update::WorkFolder);
    EXPECT_FALSE(nowhere->Make(temp / L"missing"));
    EXPECT_FALSE(nowhere->Make(temp / L"KVNew")) << "a file is no temporary folder";
    EXPECT_TRUE(nowhere->Remove());
}

// At start-up, what a run that died left goes: only folders of the work folder's form, by
// handle, never through a link.
TEST(WorkFolder, LeftoversOfARunThatDiedAreRemovedAtTheNextStart)
{
    ScratchDir temp;
    const std::wstring leftover = temp / L"Morvane-00112233445566778899aabbccddeeff";
    ASSERT_TRUE(::CreateDirectoryW(leftover.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((leftover + L"\\KVNew").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(leftover + L"\\KVNew\\KVWizard.exe", "x"));
    ASSERT_TRUE(WriteBytes(leftover + L"\\KVSetup.exe", "x"));
    const std::wstring others[] = {temp / L"Morvane-0011", temp / L"Morvane-backup",
                                   temp / L"KVNew"};
    for (const std::wstring& other : others) {
        ASSERT_TRUE(::CreateDirectoryW(other.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(other + L"\\keep.txt", "mine"));
    }
    // A link of the work folders' form to a folder of the user's: at most the link goes.
    ScratchDir target;
    ASSERT_TRUE(WriteBytes(target / L"keep.txt", "mine"));
    const std::wstring link = temp / L"Morvane-ffeeddccbbaa99887766554433221100";
    ASSERT_TRUE(testing_support::StartUnix("/bin/ln -sT \"" + UnixName(target.path()) + "\" \"" +
                                           UnixName(link) + "\""));
    for (int i = 0; i < 100 && !Exists(link); ++i) ::Sleep(50);
    ASSERT_TRUE(Exists(link));

    // The running update's own folder is held: it stays.
    win::Shared<update::WorkFolder> running(new update::WorkFolder);
    ASSERT_TRUE(running->Make(temp.path()));

    update::RemoveLeftoverWorkFolders(temp.path());
    EXPECT_FALSE(Exists(leftover));
    for (const std::wstring& other : others) EXPECT_EQ(ReadBytes(other + L"\\keep.txt"), "mine");
    EXPECT_EQ(ReadBytes(target / L"keep.txt"), "mine");
    EXPECT_TRUE(Exists(running->path()));
    EXPECT_TRUE(running->Remove());
}

}  // namespace
