#include "win/file_info.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "win/handles.h"

using testing_support::Exists;
using testing_support::ScratchDir;
using testing_support::StartUnix;
using testing_support::UnixName;
using testing_support::WriteBytes;

namespace {

win::File Hold(const std::wstring& path)
{
    return win::File(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Re-points (or makes) the Unix link `link` to `target`, as a user re-points a junction on a
// path: Wine follows such a link silently.
void PointLink(const std::wstring& link, const std::wstring& target)
{
    ASSERT_TRUE(StartUnix("/bin/ln -sfnT \"" + UnixName(target) + "\" \"" + UnixName(link) + "\""));
    for (int i = 0; i < 100 && !Exists(link + L"\\mark-" + target.substr(target.size() - 1)); ++i)
        ::Sleep(50);
}

// A path is handed to a call that takes no handle only when it names what we hold, through no
// link: a link on the way, re-pointed or not, fails it, and so does another folder.
TEST(FileInfo, APathNamesTheHeldFolderOnlyThroughNoLink)
{
    ScratchDir root;
    const std::wstring a = root / L"a", b = root / L"b", link = root / L"link";
    ASSERT_TRUE(::CreateDirectoryW(a.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(b.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(a + L"\\mark-a", "a"));
    ASSERT_TRUE(WriteBytes(b + L"\\mark-b", "b"));
    const win::File held = Hold(a);
    ASSERT_TRUE(held);
    EXPECT_TRUE(win::PathNamesHeld(a, held.get()));
    EXPECT_TRUE(win::PathNamesHeld(L"\\\\?\\" + a, held.get()));
    EXPECT_FALSE(win::PathNamesHeld(b, held.get())) << "another folder";
    EXPECT_FALSE(win::PathNamesHeld(a + L"\\missing", held.get()));
    EXPECT_FALSE(win::PathNamesHeld(L"", held.get()));

    PointLink(link, a);
    ASSERT_TRUE(Exists(link + L"\\mark-a"));
    EXPECT_FALSE(win::PathNamesHeld(link, held.get())) << "the held folder, through a link";
    PointLink(link, b);
    ASSERT_TRUE(Exists(link + L"\\mark-b"));
    EXPECT_FALSE(win::PathNamesHeld(link, held.get())) << "re-pointed elsewhere";
}

// One name, or more: a hard link is counted, and deleting the file by one name leaves the
// other.
TEST(FileInfo, LinkCountSeesASecondName)
{
    ScratchDir root;
    const std::wstring file = root / L"file.txt", second = root / L"second.txt";
    ASSERT_TRUE(WriteBytes(file, "x"));
    unsigned long links = 0;
    {
        const win::File held = Hold(file);
        ASSERT_TRUE(win::LinkCount(held.get(), &links));
        EXPECT_EQ(links, 1u);
    }
    ASSERT_TRUE(::CreateHardLinkW(second.c_str(), file.c_str(), nullptr));
    const win::File held = Hold(file);
    ASSERT_TRUE(win::LinkCount(held.get(), &links));
    EXPECT_EQ(links, 2u);
    const win::File other = Hold(second);
    EXPECT_TRUE(win::SameFile(held.get(), other.get()));
}

}  // namespace
