#include "sys/tree_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tree::EntryKind;

TEST(TreeRules, ClassifiesEntriesAndNeverFollowsReparsePoints)
{
    const unsigned long directory = 0x10, readOnly = 0x1, hidden = 0x2, reparse = 0x400;
    EXPECT_EQ(tree::ClassifyEntry(L".", directory), EntryKind::Skip);
    EXPECT_EQ(tree::ClassifyEntry(L"..", directory), EntryKind::Skip);
    EXPECT_EQ(tree::ClassifyEntry(L"...", 0), EntryKind::File);
    EXPECT_EQ(tree::ClassifyEntry(L".hidden", directory | hidden), EntryKind::Folder);
    EXPECT_EQ(tree::ClassifyEntry(L"a.txt", readOnly), EntryKind::File);
    EXPECT_EQ(tree::ClassifyEntry(L"junction", directory | reparse), EntryKind::Link);
    EXPECT_EQ(tree::ClassifyEntry(L"filelink", reparse), EntryKind::Link);
}

TEST(TreeRules, SplitsFoldersBelowADriveOrShareRoot)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* root;
        std::vector<std::wstring> names;
    };
    const Case cases[] = {
        {L"C:\\a", L"C:\\", {L"a"}},
        {L"z:\\Temp\\pkg", L"z:\\", {L"Temp", L"pkg"}},
        {L"C:\\Users\\Jo Smith\\AppData\\Local\\Temp\\kv 2", L"C:\\",
         {L"Users", L"Jo Smith", L"AppData", L"Local", L"Temp", L"kv 2"}},
        {L"C:\\a\\...", L"C:\\", {L"a", L"..."}},  // only "." and ".." climb
        {L"C:\\ADMINI~1\\.hidden", L"C:\\", {L"ADMINI~1", L".hidden"}},
        {L"\\\\server\\share\\dir", L"\\\\server\\share\\", {L"dir"}},
        {L"\\\\server\\share\\dir\\sub", L"\\\\server\\share\\", {L"dir", L"sub"}},
    };
    for (const Case& c : cases) {
        tree::FolderPath split;
        ASSERT_TRUE(tree::SplitFolderPath(c.path, &split)) << c.path;
        EXPECT_EQ(split.root, c.root) << c.path;
        EXPECT_EQ(split.names, c.names) << c.path;
    }
}

TEST(TreeRules, RefusesWhatIsNoAbsoluteFolderBelowARoot)
{
    const wchar_t* refused[] = {
        L"",                       // would list the root of the current drive
        L"a", L"a\\b", L".", L"..",  // relative
        L"\\Temp", L"\\",          // rooted, on whichever drive is current
        L"C:", L"C:a", L"C:a\\b",  // drive-relative: the drive's current folder
        L"C:\\", L"c:\\\\",        // roots
        L"\\\\server\\share", L"\\\\server\\share\\", L"\\\\server", L"\\\\", L"\\\\\\share\\a",
        L"\\\\?\\C:\\a", L"\\\\.\\C:\\a", L"\\\\?\\UNC\\server\\share\\a",  // device namespace
        L"C:\\a\\", L"C:\\a\\\\b",                // empty components
        L"C:\\a\\..", L"C:\\a\\..\\..\\Windows", L"C:\\.\\a",  // climbing
        L"C:/a", L"C:\\a/b", L"//server/share/a",  // forward slashes
        L"C:\\a\\b:stream", L"C:\\a:\\b", L"1:\\a",  // streams, no drive letter
    };
    for (const wchar_t* path : refused) {
        tree::FolderPath split;
        EXPECT_FALSE(tree::SplitFolderPath(path, &split)) << path;
    }
}

}  // namespace
