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
using testing_support::RemoveTree;
using testing_support::RunningOnWine;
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

std::wstring WindowsTemp()
{
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows, length) + L"\\Temp";
}

// Sets an environment variable for the test's scope.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : m_name(name)
    {
        wchar_t old[32768];
        const DWORD length = ::GetEnvironmentVariableW(name, old, 32768);
        m_had = length > 0 && length < 32768;
        if (m_had) m_old.assign(old, length);
        ::SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { ::SetEnvironmentVariableW(m_name, m_had ? m_old.c_str() : nullptr); }

private:
    const wchar_t* m_name;
    bool m_had = false;
    std::wstring m_old;
};

// A fresh folder of an unguessable name below the Windows folder's Temp, held so that nobody
// renames it or deletes it while the update works in it, and removed whole, through its
// handle, at the end.
TEST(WorkFolder, IsMadeFreshHeldAndRemovedWhole)
{
    EXPECT_EQ(update::WorkFolderParent(), WindowsTemp());
    win::Shared<update::WorkFolder> work(new update::WorkFolder);
    ASSERT_TRUE(work->Make());
    const std::wstring path = work->CheckedPath();
    EXPECT_TRUE(rules::IsWorkFolderName(NameOf(path))) << path;
    EXPECT_EQ(path, WindowsTemp() + L"\\" + NameOf(path));
    EXPECT_TRUE(Listing(path).empty()) << "fresh and empty";
    EXPECT_TRUE(work->Make()) << "made once; a second Make keeps the first";
    EXPECT_EQ(work->CheckedPath(), path);

    win::Shared<update::WorkFolder> second(new update::WorkFolder);
    ASSERT_TRUE(second->Make());
    EXPECT_NE(second->CheckedPath(), path) << "each run has a folder of its own";
    EXPECT_TRUE(second->Remove());

    // What the update puts inside goes with it, nested folders and read-only files too.
    ASSERT_TRUE(::CreateDirectoryW((path + L"\\KVNew").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((path + L"\\KVNew\\res").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(path + L"\\KVSetup.exe", "package"));
    ASSERT_TRUE(WriteBytes(path + L"\\KVNew\\res\\a.ini", "x"));
    // Held without delete sharing: it cannot be renamed away and another put in its place.
    EXPECT_FALSE(::MoveFileW(path.c_str(), (WindowsTemp() + L"\\moved").c_str()));
    EXPECT_FALSE(::RemoveDirectoryW(path.c_str()));
    EXPECT_TRUE(Exists(path));

    EXPECT_TRUE(work->Remove());
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(work->CheckedPath(), L"") << "nothing held, no path";
    EXPECT_TRUE(work->Remove()) << "a second removal finds nothing to do";
}

// The parent comes from the system, not from an environment the user may have written: an
// elevated process takes TEMP (and could take SystemRoot) from HKCU\Environment.
TEST(WorkFolder, ItsParentIsNeverTakenFromTheEnvironment)
{
    ScratchDir users;
    ScopedVariable temp(L"TEMP", users.path()), tmp(L"TMP", users.path()),
        root(L"SystemRoot", users.path()), windir(L"windir", users.path());
    win::Shared<update::WorkFolder> work(new update::WorkFolder);
    ASSERT_TRUE(work->Make());
    EXPECT_EQ(work->CheckedPath().rfind(WindowsTemp() + L"\\", 0), 0u) << work->CheckedPath();
    EXPECT_TRUE(Listing(users.path()).empty());
    EXPECT_TRUE(work->Remove());
}

// Elevated, the folder is the administrators' alone: owner Administrators, a protected DACL
// granting full control to Administrators and SYSTEM and nothing to anyone else, the user
// included, inherited by all it holds.
TEST(WorkFolder, ElevatedOnlyAdministratorsMayOpenIt)
{
    ASSERT_TRUE(win::IsElevated()) << "Wine runs programs as an administrator";
    ScratchDir plain;
    win::Shared<update::WorkFolder> work(new update::WorkFolder);
    ASSERT_TRUE(work->Make());
    testing_support::ExpectAdminOnlyFolder(work->CheckedPath(), plain / L"plain");
    EXPECT_TRUE(work->Remove());
}

// At start-up, what a run that died left goes: only folders of the work folder's form that
// carry the work folder's own descriptor, by handle, never through a link. A folder the user
// made there (or moved there) is kept, whatever it holds.
TEST(WorkFolder, OnlyLeftoversMorvaneMadeAreRemovedAtTheNextStart)
{
    const std::wstring parent = WindowsTemp();
    win::AdminOnlyFolder security;
    ASSERT_TRUE(security.Build());
    SECURITY_ATTRIBUTES ours{sizeof ours, security.get(), FALSE};
    const std::wstring leftover = parent + L"\\Morvane-00112233445566778899aabbccddeeff";
    RemoveTree(leftover);
    ASSERT_TRUE(::CreateDirectoryW(leftover.c_str(), &ours));
    ASSERT_TRUE(::CreateDirectoryW((leftover + L"\\KVNew").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(leftover + L"\\KVNew\\KVWizard.exe", "x"));
    // The user's own folders: one of the work folders' name form (made without the
    // descriptor, as a program of the user's makes it), and others.
    const std::wstring others[] = {parent + L"\\Morvane-0123456789abcdef0123456789abcdef",
                                   parent + L"\\Morvane-0011", parent + L"\\Morvane-backup"};
    for (const std::wstring& other : others) {
        RemoveTree(other);
        ASSERT_TRUE(::CreateDirectoryW(other.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(other + L"\\keep.txt", "mine"));
    }
    // A link of the work folders' form to a folder of the user's: its target is never touched.
    ScratchDir target;
    ASSERT_TRUE(WriteBytes(target / L"keep.txt", "mine"));
    const std::wstring link = parent + L"\\Morvane-ffeeddccbbaa99887766554433221100";
    ASSERT_TRUE(testing_support::StartUnix("/bin/ln -sfT \"" + UnixName(target.path()) + "\" \"" +
                                           UnixName(link) + "\""));
    for (int i = 0; i < 100 && !Exists(link); ++i) ::Sleep(50);
    ASSERT_TRUE(Exists(link));
    // The running update's own folder is held: it stays.
    win::Shared<update::WorkFolder> running(new update::WorkFolder);
    ASSERT_TRUE(running->Make());

    update::RemoveLeftoverWorkFolders();
    for (const std::wstring& other : others) EXPECT_EQ(ReadBytes(other + L"\\keep.txt"), "mine");
    EXPECT_EQ(ReadBytes(target / L"keep.txt"), "mine");
    EXPECT_TRUE(Exists(running->CheckedPath()));
    if (RunningOnWine()) {
        // Wine keeps no owner (every file reads back as the user's), so the rule cannot tell
        // Morvane's folder from the user's here, and keeps it: on Windows it goes.
        EXPECT_EQ(ReadBytes(leftover + L"\\KVNew\\KVWizard.exe"), "x");
    } else {
        EXPECT_FALSE(Exists(leftover));
    }
    EXPECT_TRUE(running->Remove());
    for (const std::wstring& other : others) RemoveTree(other);
    RemoveTree(leftover);
    testing_support::StartUnix("/bin/rm -f \"" + UnixName(link) + "\"");
}

}  // namespace
