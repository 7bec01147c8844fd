// Opening, creating, removing and renaming one entry inside a held folder, by the native calls
// relative to the folder's handle, against the real file system under Wine.
#include "win/nt_file.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using namespace testing_support;

namespace {

constexpr win::EntryOpen kReadFile{GENERIC_READ, win::kHoldSharing, FILE_OPEN,
                                   FILE_NON_DIRECTORY_FILE};
constexpr win::EntryOpen kReadFolder{FILE_LIST_DIRECTORY | SYNCHRONIZE, win::kHoldSharing,
                                     FILE_OPEN, FILE_DIRECTORY_FILE};
constexpr win::EntryOpen kCreateFile{GENERIC_WRITE, win::kHoldSharing, FILE_CREATE,
                                     FILE_NON_DIRECTORY_FILE};
constexpr win::EntryOpen kCreateFolder{FILE_LIST_DIRECTORY | SYNCHRONIZE, win::kHoldSharing,
                                       FILE_CREATE, FILE_DIRECTORY_FILE};

// A scratch folder with a file and a folder in it, held open as the callers hold theirs.
class NtFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(WriteBytes(dir / L"file.txt", "content"));
        ASSERT_TRUE(::CreateDirectoryW((dir / L"folder").c_str(), nullptr));
        folder = win::File(::CreateFileW(dir.path().c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                         win::kHoldSharing, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(folder);
    }

    ScratchDir dir;
    win::File folder;
};

TEST_F(NtFile, OpenInFolderAnswersWhatBecameOfTheEntry)
{
    struct Case {
        const wchar_t* name;
        win::EntryOpen mode;
        win::EntryResult result;
    };
    const Case cases[] = {
        {L"file.txt", kReadFile, win::EntryResult::Opened},
        {L"FILE.TXT", kReadFile, win::EntryResult::Opened},  // names match without case
        {L"folder", kReadFolder, win::EntryResult::Opened},
        {L"missing.txt", kReadFile, win::EntryResult::Missing},
        {L"missing\\file.txt", kReadFile, win::EntryResult::Missing},
        {L"file.txt", kReadFolder, win::EntryResult::WrongKind},
        {L"folder", kReadFile, win::EntryResult::WrongKind},
        {L"file.txt", kCreateFile, win::EntryResult::Exists},
        {L"folder", kCreateFolder, win::EntryResult::Exists},
        {L"", kReadFile, win::EntryResult::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        win::File opened;
        EXPECT_EQ(win::OpenInFolder(folder.get(), c.name, c.mode, &opened), c.result);
        EXPECT_EQ(opened.valid(), c.result == win::EntryResult::Opened);
    }
    // Longer than any name a volume stores: refused before the system is asked.
    win::File opened;
    EXPECT_EQ(win::OpenInFolder(folder.get(), std::wstring(256, L'a'), kCreateFile, &opened),
              win::EntryResult::Failed);
    EXPECT_FALSE(Exists(dir / std::wstring(256, L'a')));
}

TEST_F(NtFile, AFailedOpenLeavesTheOwnerEmptyAndAnOpenedOneReadsTheEntry)
{
    win::File opened;
    ASSERT_EQ(win::OpenInFolder(folder.get(), L"file.txt", kReadFile, &opened),
              win::EntryResult::Opened);
    char bytes[16] = {};
    DWORD read = 0;
    ASSERT_TRUE(::ReadFile(opened.get(), bytes, sizeof bytes, &read, nullptr));
    EXPECT_EQ(std::string(bytes, read), "content");
    // The same owner asked again: what it held goes, and a failure leaves nothing behind.
    EXPECT_EQ(win::OpenInFolder(folder.get(), L"missing.txt", kReadFile, &opened),
              win::EntryResult::Missing);
    EXPECT_FALSE(opened.valid());
}

TEST_F(NtFile, CreatedEntriesAreMadeInTheHeldFolder)
{
    win::File made;
    ASSERT_EQ(win::OpenInFolder(folder.get(), L"new.bin", kCreateFile, &made),
              win::EntryResult::Opened);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(made.get(), "abc", 3, &written, nullptr));
    made.reset();
    EXPECT_EQ(ReadBytes(dir / L"new.bin"), "abc");
    win::File sub;
    ASSERT_EQ(win::OpenInFolder(folder.get(), L"sub", kCreateFolder, &sub),
              win::EntryResult::Opened);
    // One level below the new folder, through its handle alone.
    win::File inner;
    EXPECT_EQ(win::OpenInFolder(sub.get(), L"inner.txt", kCreateFile, &inner),
              win::EntryResult::Opened);
    inner.reset();
    EXPECT_TRUE(Exists(dir / L"sub\\inner.txt"));
}

TEST_F(NtFile, RemoveInFolderTakesTheNameOnlyWhenNobodyHoldsItWithoutDeleteSharing)
{
    EXPECT_TRUE(win::RemoveInFolder(folder.get(), L"file.txt"));
    EXPECT_FALSE(Exists(dir / L"file.txt"));
    EXPECT_TRUE(win::RemoveInFolder(folder.get(), L"file.txt"));  // gone already: fine
    ASSERT_TRUE(WriteBytes(dir / L"held.txt", "x"));
    {
        win::File held;
        ASSERT_EQ(win::OpenInFolder(folder.get(), L"held.txt", kReadFile, &held),
                  win::EntryResult::Opened);
        EXPECT_FALSE(win::RemoveInFolder(folder.get(), L"held.txt"));
        EXPECT_TRUE(Exists(dir / L"held.txt"));
    }
    // A folder is no file to remove.
    EXPECT_FALSE(win::RemoveInFolder(folder.get(), L"folder"));
    EXPECT_TRUE(Exists(dir / L"folder"));
}

TEST_F(NtFile, RenameInFolderGivesTheHeldFileAFreeName)
{
    constexpr win::EntryOpen kRenamable{DELETE | SYNCHRONIZE, FILE_SHARE_READ, FILE_OPEN,
                                        FILE_NON_DIRECTORY_FILE};
    ASSERT_TRUE(WriteBytes(dir / L"taken.txt", "other"));
    win::File file;
    ASSERT_EQ(win::OpenInFolder(folder.get(), L"file.txt", kRenamable, &file),
              win::EntryResult::Opened);
    EXPECT_FALSE(win::RenameInFolder(file.get(), folder.get(), L"taken.txt"));
    EXPECT_EQ(ReadBytes(dir / L"taken.txt"), "other");
    EXPECT_FALSE(win::RenameInFolder(file.get(), folder.get(), std::wstring(MAX_PATH, L'n')));
    EXPECT_TRUE(win::RenameInFolder(file.get(), folder.get(), L"renamed.txt"));
    file.reset();
    EXPECT_FALSE(Exists(dir / L"file.txt"));
    EXPECT_EQ(ReadBytes(dir / L"renamed.txt"), "content");
}

}  // namespace
