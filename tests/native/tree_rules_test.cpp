#include "sys/tree_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sys::ListedKind;

TEST(TreeRules, ClassifiesEntriesAndNeverFollowsReparsePoints)
{
    const unsigned long directory = 0x10, readOnly = 0x1, hidden = 0x2, reparse = 0x400;
    EXPECT_EQ(sys::ClassifyEntry(L".", directory), ListedKind::Skip);
    EXPECT_EQ(sys::ClassifyEntry(L"..", directory), ListedKind::Skip);
    EXPECT_EQ(sys::ClassifyEntry(L"...", 0), ListedKind::File);
    EXPECT_EQ(sys::ClassifyEntry(L".hidden", directory | hidden), ListedKind::Folder);
    EXPECT_EQ(sys::ClassifyEntry(L"a.txt", readOnly), ListedKind::File);
    EXPECT_EQ(sys::ClassifyEntry(L"junction", directory | reparse), ListedKind::Link);
    EXPECT_EQ(sys::ClassifyEntry(L"filelink", reparse), ListedKind::Link);
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
        {L"C:\\Users\\Jo Smith\\AppData\\Local\\Temp\\kv 2",
         L"C:\\",
         {L"Users", L"Jo Smith", L"AppData", L"Local", L"Temp", L"kv 2"}},
        {L"C:\\ADMINI~1\\.hidden", L"C:\\", {L"ADMINI~1", L".hidden"}},
        {L"\\\\server\\share\\dir", L"\\\\server\\share\\", {L"dir"}},
        {L"\\\\server\\share\\dir\\sub", L"\\\\server\\share\\", {L"dir", L"sub"}},
    };
    for (const Case& c : cases) {
        sys::FolderPath split;
        ASSERT_TRUE(sys::SplitFolderPath(c.path, &split)) << c.path;
        EXPECT_EQ(split.root, c.root) << c.path;
        EXPECT_EQ(split.names, c.names) << c.path;
    }
}

TEST(TreeRules, RefusesWhatIsNoAbsoluteFolderBelowARoot)
{
    const wchar_t* refused[] = {
        L"",  // would list the root of the current drive
        L"a",
        L"a\\b",
        L".",
        L"..",  // relative
        L"\\Temp",
        L"\\",  // rooted, on whichever drive is current
        L"C:",
        L"C:a",
        L"C:a\\b",  // drive-relative: the drive's current folder
        L"C:\\",
        L"c:\\\\",  // roots
        L"\\\\server\\share",
        L"\\\\server\\share\\",
        L"\\\\server",
        L"\\\\",
        L"\\\\\\share\\a",
        L"\\\\?\\C:\\a",
        L"\\\\.\\C:\\a",
        L"\\\\?\\UNC\\server\\share\\a",  // device namespace
        L"C:\\a\\",
        L"C:\\a\\\\b",  // empty components
        L"C:\\a\\..",
        L"C:\\a\\..\\..\\Windows",
        L"C:\\.\\a",  // climbing
        L"C:/a",
        L"C:\\a/b",
        L"//server/share/a",  // forward slashes
        L"C:\\a\\b:stream",
        L"C:\\a:\\b",
        L"1:\\a",  // streams, no drive letter
        // Names Win32 reads as another name or as a device: each level is a plain file name.
        L"C:\\a\\...",
        L"C:\\a.\\b",
        L"C:\\a \\b",
        L"C:\\nul\\b",
        L"C:\\a\\CLOCK$",
        L"\\\\srv\\con\\a",
        L"\\\\srv.\\share\\a",
    };
    for (const wchar_t* path : refused) {
        sys::FolderPath split;
        EXPECT_FALSE(sys::SplitFolderPath(path, &split)) << path;
    }
}

TEST(TreeRules, ASourceMayBeARootItself)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* root;
        size_t names;
    };
    const Case roots[] = {
        {L"E:\\", L"E:\\", 0},
        {L"\\\\srv\\share\\", L"\\\\srv\\share\\", 0},
        {L"\\\\srv\\share", L"\\\\srv\\share\\", 0},  // the same root, opened with its backslash
        {L"E:\\KV\\res", L"E:\\", 2},                 // below a root as before
    };
    for (const Case& c : roots) {
        // Filled from an earlier split: a root keeps none of its names.
        sys::FolderPath split{L"C:\\", {L"earlier", L"names"}};
        ASSERT_TRUE(sys::SplitSourceFolderPath(c.path, &split)) << c.path;
        EXPECT_EQ(split.root, c.root) << c.path;
        EXPECT_EQ(split.names.size(), c.names) << c.path;
        if (c.names == 0)
            EXPECT_FALSE(sys::SplitFolderPath(c.path, &split)) << c.path << ": never a destination";
    }
    for (const wchar_t* path : {L"E:", L"E:\\\\", L"\\", L"\\\\srv", L"\\\\srv\\", L"\\\\?\\C:\\",
                                L"\\\\.\\C:\\", L"E:/", L""}) {
        sys::FolderPath split;
        EXPECT_FALSE(sys::SplitSourceFolderPath(path, &split)) << path;
    }
}

}  // namespace
