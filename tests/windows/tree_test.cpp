#include "sys/directory_tree.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using testing_support::Exists;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

namespace {

bool MakeDir(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != 0; }

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FILETIME WriteTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// src: a.txt, hidden.txt (hidden), ro.txt (read-only), sub\b.txt, sub\deeper\c.txt, empty\ .
void MakeSourceTree(const std::wstring& src)
{
    ASSERT_TRUE(MakeDir(src));
    ASSERT_TRUE(WriteBytes(src + L"\\a.txt", "source a"));
    ASSERT_TRUE(WriteBytes(src + L"\\hidden.txt", "hidden"));
    ::SetFileAttributesW((src + L"\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(WriteBytes(src + L"\\ro.txt", "read-only"));
    ::SetFileAttributesW((src + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(MakeDir(src + L"\\sub"));
    ASSERT_TRUE(WriteBytes(src + L"\\sub\\b.txt", "source b"));
    ASSERT_TRUE(MakeDir(src + L"\\sub\\deeper"));
    ASSERT_TRUE(WriteBytes(src + L"\\sub\\deeper\\c.txt", "source c"));
    ASSERT_TRUE(MakeDir(src + L"\\empty"));
}

TEST(EnsureDirectory, ChecksTheSourceFirstAndCreatesOneLevel)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", missing = dir / L"missing";
    ASSERT_TRUE(MakeDir(src));
    ASSERT_TRUE(MakeDir(dir / L"existing"));
    ASSERT_TRUE(WriteBytes(dir / L"file", "x"));

    EXPECT_EQ(tree::EnsureDirectory(dir / L"existing", missing), 0);  // source test first
    EXPECT_EQ(tree::EnsureDirectory(dir / L"new", missing), 0);
    EXPECT_FALSE(Exists(dir / L"new"));
    EXPECT_EQ(tree::EnsureDirectory(dir / L"existing", src), 1);
    EXPECT_EQ(tree::EnsureDirectory(dir / L"new", src), 1);
    EXPECT_TRUE(IsFolder(dir / L"new"));
    EXPECT_EQ(tree::EnsureDirectory(dir / L"two\\levels", src), 0);
    EXPECT_FALSE(Exists(dir / L"two"));
    EXPECT_EQ(tree::EnsureDirectory(dir / L"file", src), 0);  // a file is in the way
    EXPECT_EQ(tree::EnsureDirectory(dir / L"new", dir / L"file"), 0);  // source is no folder
}

TEST(CopyDirectoryTree, CopiesAWholeTreeIntoAnEmptyFolder)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", dst = dir / L"dst";
    MakeSourceTree(src);
    ASSERT_TRUE(MakeDir(dst));
    ASSERT_EQ(tree::CopyDirectoryTree(dst, src), 1);
    EXPECT_EQ(ReadBytes(dst + L"\\a.txt"), "source a");
    EXPECT_EQ(ReadBytes(dst + L"\\hidden.txt"), "hidden");
    EXPECT_EQ(ReadBytes(dst + L"\\ro.txt"), "read-only");
    EXPECT_TRUE(::GetFileAttributesW((dst + L"\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ReadBytes(dst + L"\\sub\\deeper\\c.txt"), "source c");
    EXPECT_TRUE(IsFolder(dst + L"\\empty"));
    // Copying again changes nothing and still succeeds, read-only files included.
    EXPECT_EQ(tree::CopyDirectoryTree(dst, src), 1);
}

TEST(CopyDirectoryTree, CompletesAndNeverOverwrites)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", dst = dir / L"dst";
    MakeSourceTree(src);
    ASSERT_TRUE(MakeDir(dst));
    ASSERT_TRUE(MakeDir(dst + L"\\sub"));
    ASSERT_TRUE(WriteBytes(dst + L"\\sub\\b.txt", "kept b"));
    ASSERT_TRUE(MakeDir(dst + L"\\a.txt"));  // a folder where the source has a file
    const FILETIME before = WriteTime(dst + L"\\sub\\b.txt");

    EXPECT_EQ(tree::CopyDirectoryTree(dst, src), 1);
    EXPECT_EQ(ReadBytes(dst + L"\\sub\\b.txt"), "kept b");
    const FILETIME after = WriteTime(dst + L"\\sub\\b.txt");
    EXPECT_EQ(::CompareFileTime(&before, &after), 0);
    EXPECT_TRUE(IsFolder(dst + L"\\a.txt"));
    EXPECT_EQ(ReadBytes(dst + L"\\sub\\deeper\\c.txt"), "source c");
    EXPECT_EQ(ReadBytes(dst + L"\\ro.txt"), "read-only");
}

TEST(CopyDirectoryTree, FailsWhereAFolderCannotBeMadeOrListed)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", dst = dir / L"dst";
    MakeSourceTree(src);
    ASSERT_TRUE(MakeDir(dst));
    ASSERT_TRUE(WriteBytes(dst + L"\\sub", "a file where the source has a folder"));
    EXPECT_EQ(tree::CopyDirectoryTree(dst, src), 0);
    EXPECT_EQ(ReadBytes(dst + L"\\sub"), "a file where the source has a folder");

    // No destination: the files would go nowhere, which is no success.
    EXPECT_EQ(tree::CopyDirectoryTree(dir / L"no-dst", src), 0);
    EXPECT_FALSE(Exists(dir / L"no-dst"));

    // A source folder too deep to list would silently be left out: refused.
    const std::wstring deepSrc = dir / L"deep";
    ASSERT_TRUE(MakeDir(deepSrc));
    std::wstring longFolder = deepSrc + L"\\";
    longFolder += std::wstring(256 - longFolder.size(), L'd');
    ASSERT_TRUE(MakeDir(longFolder)) << longFolder.size();
    ASSERT_TRUE(WriteBytes(L"\\\\?\\" + longFolder + L"\\f.txt", "deep"));
    const std::wstring deepDst = dir / L"deepdst";
    ASSERT_TRUE(MakeDir(deepDst));
    EXPECT_EQ(tree::CopyDirectoryTree(deepDst, deepSrc), 0);
}

TEST(CopyDirectoryTree, HasNothingToDoWithoutASource)
{
    ScratchDir dir;
    ASSERT_TRUE(MakeDir(dir / L"dst"));
    ASSERT_TRUE(MakeDir(dir / L"emptysrc"));
    EXPECT_EQ(tree::CopyDirectoryTree(dir / L"dst", dir / L"missing"), 1);
    EXPECT_EQ(tree::CopyDirectoryTree(dir / L"dst", dir / L"emptysrc"), 1);
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((dir / L"dst\\*.*").c_str(), &entry);
    int entries = 0;
    do {
        ++entries;
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
    EXPECT_EQ(entries, 2);  // "." and ".." only
}

TEST(DeleteDirectoryTree, RemovesTreesAndStopsAtReadOnlyFiles)
{
    ScratchDir dir;
    MakeSourceTree(dir / L"full");
    EXPECT_EQ(tree::DeleteDirectoryTree(dir / L"full"), 0);  // ro.txt stops it
    EXPECT_TRUE(Exists(dir / L"full\\ro.txt"));
    EXPECT_TRUE(Exists(dir / L"full"));

    ::SetFileAttributesW((dir / L"full\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(tree::DeleteDirectoryTree(dir / L"full"), 1);  // hidden files go too
    EXPECT_FALSE(Exists(dir / L"full"));

    ASSERT_TRUE(MakeDir(dir / L"empty"));
    EXPECT_EQ(tree::DeleteDirectoryTree(dir / L"empty"), 1);
    EXPECT_FALSE(Exists(dir / L"empty"));
    EXPECT_EQ(tree::DeleteDirectoryTree(dir / L"missing"), 0);

    // A read-only file deep down: entries reached before it stay deleted, it and its
    // folders stay.
    ASSERT_TRUE(MakeDir(dir / L"t"));
    ASSERT_TRUE(MakeDir(dir / L"t\\inner"));
    ASSERT_TRUE(WriteBytes(dir / L"t\\inner\\ro.txt", "ro"));
    ::SetFileAttributesW((dir / L"t\\inner\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(tree::DeleteDirectoryTree(dir / L"t"), 0);
    EXPECT_TRUE(Exists(dir / L"t\\inner\\ro.txt"));
    EXPECT_TRUE(::GetFileAttributesW((dir / L"t\\inner\\ro.txt").c_str()) &
                FILE_ATTRIBUTE_READONLY);  // attributes are never changed
}

// Makes a directory link: CreateSymbolicLinkW where it really makes one, else (under Wine,
// whose CreateSymbolicLinkW only reports success) a Unix symlink made by /bin/ln, which Wine
// shows as a directory reparse point. False when neither works.
bool MakeDirectoryLink(const std::wstring& link, const std::wstring& target)
{
    using CreateLinkFn = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto createLink = reinterpret_cast<CreateLinkFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "CreateSymbolicLinkW")));
    if (createLink) createLink(link.c_str(), target.c_str(), 0x1 | 0x2);
    if (::GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT &&
        Exists(link))
        return true;

    using UnixNameFn = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_unix_file_name")));
    if (!unixName) return false;
    char* unixTarget = unixName(target.c_str());
    const std::wstring parent = link.substr(0, link.find_last_of(L'\\'));
    char* unixParent = unixName(parent.c_str());
    if (!unixTarget || !unixParent) return false;
    std::string command = std::string("/bin/ln -s \"") + unixTarget + "\" \"" + unixParent + "/" +
                          std::string(link.begin() + static_cast<std::ptrdiff_t>(parent.size()) + 1,
                                      link.end()) + "\"";
    ::HeapFree(::GetProcessHeap(), 0, unixTarget);
    ::HeapFree(::GetProcessHeap(), 0, unixParent);
    std::wstring wide(command.begin(), command.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, &wide[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started))
        return false;
    ::WaitForSingleObject(started.hProcess, 30000);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    // Wine may signal a Unix child's handle before the child has run: look for the link.
    for (int tries = 0; tries < 300; ++tries) {
        const DWORD attributes = ::GetFileAttributesW(link.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return true;
        ::Sleep(100);
    }
    return false;
}

class TreeLinks : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeDir(m_dir / L"outside"));
        ASSERT_TRUE(WriteBytes(m_dir / L"outside\\precious.txt", "keep me"));
        ASSERT_TRUE(MakeDir(m_dir / L"src"));
        ASSERT_TRUE(MakeDir(m_dir / L"src\\sub"));
        ASSERT_TRUE(WriteBytes(m_dir / L"src\\sub\\new.txt", "new"));
        ASSERT_TRUE(MakeDir(m_dir / L"tree"));
        if (!MakeDirectoryLink(m_dir / L"tree\\sub", m_dir / L"outside"))
            GTEST_SKIP() << "this system lets the test make no directory link";
    }
    bool OutsideUntouched() const
    {
        return ReadBytes(m_dir / L"outside\\precious.txt") == "keep me" &&
               !Exists(m_dir / L"outside\\new.txt");
    }
    ScratchDir m_dir;
};

TEST_F(TreeLinks, DeleteRemovesTheLinkNeverItsTarget)
{
    const int result = tree::DeleteDirectoryTree(m_dir / L"tree");
    EXPECT_TRUE(OutsideUntouched());
    // Windows removes a directory link with RemoveDirectoryW; Wine refuses to remove a Unix
    // symlink that way, so there the delete stops with 0 and leaves the link.
    EXPECT_EQ(result == 1, !Exists(m_dir / L"tree\\sub"));
    EXPECT_EQ(result == 1, !Exists(m_dir / L"tree"));

    const int linkOnly = tree::DeleteDirectoryTree(m_dir / L"tree\\sub");
    EXPECT_TRUE(OutsideUntouched());
    EXPECT_EQ(linkOnly == 1, !Exists(m_dir / L"tree\\sub"));
}

TEST_F(TreeLinks, CopyAndEnsureNeverWriteThroughALink)
{
    EXPECT_EQ(tree::CopyDirectoryTree(m_dir / L"tree", m_dir / L"src"), 0);
    EXPECT_EQ(tree::CopyDirectoryTree(m_dir / L"tree\\sub", m_dir / L"src\\sub"), 0);
    EXPECT_EQ(tree::EnsureDirectory(m_dir / L"tree\\sub", m_dir / L"src"), 0);
    EXPECT_EQ(tree::EnsureDirectory(m_dir / L"tree\\sub\\child", m_dir / L"src"), 0);
    EXPECT_TRUE(OutsideUntouched());
    EXPECT_FALSE(Exists(m_dir / L"outside\\child"));
}

}  // namespace
