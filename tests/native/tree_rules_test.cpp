#include "sys/tree_rules.h"

#include <gtest/gtest.h>

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

TEST(TreeRules, ListingPatternFitsMaxPathOrIsEmpty)
{
    EXPECT_EQ(tree::ListingPattern(L"C:\\a"), L"C:\\a\\*.*");
    const std::wstring longest(255, L'x');  // 255 + "\*.*" = 259
    EXPECT_EQ(tree::ListingPattern(longest), longest + L"\\*.*");
    EXPECT_EQ(tree::ListingPattern(longest + L"x"), L"");
}

}  // namespace
