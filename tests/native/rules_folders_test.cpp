#include "rules/folders.h"

#include <gtest/gtest.h>

#include <string>

TEST(FolderRules, TemporaryFolderIsTempThenTmpAsGiven)
{
    const std::wstring tooLong(rules::kMaxPathChars, L'x');
    EXPECT_EQ(rules::TemporaryFolder(L"C:\\T", L"D:\\U"), L"C:\\T");
    EXPECT_EQ(rules::TemporaryFolder(L"", L"D:\\U\\"), L"D:\\U\\");  // kept exactly
    EXPECT_EQ(rules::TemporaryFolder(tooLong, L"D:\\U"), L"D:\\U");  // would not fit MAX_PATH
    EXPECT_EQ(rules::TemporaryFolder(tooLong + L"x", L"D:\\U"), L"D:\\U");
    EXPECT_EQ(rules::TemporaryFolder(tooLong.substr(1), L"D:\\U"), tooLong.substr(1));
    EXPECT_EQ(rules::TemporaryFolder(L"", L""), L"");
    EXPECT_EQ(rules::TemporaryFolder(tooLong, tooLong), L"");
}

TEST(FolderRules, RootsKeepTheirBackslashAndJoinsNeverDoubleIt)
{
    struct Case {
        const wchar_t* folder;
        size_t root;
        const wchar_t* normal;
        const wchar_t* joined;  // with "res"
    } cases[] = {
        {L"E:\\", 3, L"E:\\", L"E:\\res"},
        {L"E:\\\\", 3, L"E:\\", L"E:\\res"},
        {L"C:\\Temp", 3, L"C:\\Temp", L"C:\\Temp\\res"},
        {L"C:\\Temp\\", 3, L"C:\\Temp", L"C:\\Temp\\res"},
        {L"C:\\a b\\c\\\\", 3, L"C:\\a b\\c", L"C:\\a b\\c\\res"},
        {L"\\\\srv\\share\\", 12, L"\\\\srv\\share\\", L"\\\\srv\\share\\res"},
        {L"\\\\srv\\share\\dir\\", 12, L"\\\\srv\\share\\dir", L"\\\\srv\\share\\dir\\res"},
        {L"\\\\srv\\share", 0, L"\\\\srv\\share", L"\\\\srv\\share\\res"},
        {L"\\\\?\\C:\\", 0, L"\\\\?\\C:", L"\\\\?\\C:\\res"},
        {L"E:", 0, L"E:", L"E:\\res"},
        {L"a:\\", 3, L"a:\\", L"a:\\res"},  // the first and last letters of both cases
        {L"A:\\a", 3, L"A:\\a", L"A:\\a\\res"},
        {L"z:\\", 3, L"z:\\", L"z:\\res"},
        {L"Z:\\a", 3, L"Z:\\a", L"Z:\\a\\res"},
        {L"@:\\a", 0, L"@:\\a", L"@:\\a\\res"},  // their neighbours are no drive letters
        {L"[:\\a", 0, L"[:\\a", L"[:\\a\\res"},
        {L"`:\\a", 0, L"`:\\a", L"`:\\a\\res"},
        {L"{:\\a", 0, L"{:\\a", L"{:\\a\\res"},
        {L"CC\\a", 0, L"CC\\a", L"CC\\a\\res"},              // a letter without its colon
        {L"C:a\\b\\c", 0, L"C:a\\b\\c", L"C:a\\b\\c\\res"},  // drive-relative, no server and share
        {L"\\", 0, L"\\", L"\\res"},
        {L"", 0, L"", L"\\res"},  // nothing to keep (callers refuse an empty folder first)
    };
    for (const Case& c : cases) {
        const std::string shown = testing::PrintToString(std::wstring(c.folder));
        EXPECT_EQ(rules::RootLength(c.folder), c.root) << shown;
        EXPECT_EQ(rules::NormaliseFolder(c.folder), c.normal) << shown;
        EXPECT_EQ(rules::JoinPath(c.folder, L"res"), c.joined) << shown;
    }
}

TEST(FolderRules, ParentFolderIsWhatPathRemoveFileSpecLeaves)
{
    const struct {
        const wchar_t* path;
        const wchar_t* parent;
    } cases[] = {
        {L"C:\\a\\b.exe", L"C:\\a"},
        {L"C:\\a\\b\\c.exe", L"C:\\a\\b"},
        {L"E:\\KVWizard.exe", L"E:\\"},
        {L"\\\\srv\\share\\w.exe", L"\\\\srv\\share\\"},
        {L"\\\\srv\\share\\d\\w.exe", L"\\\\srv\\share\\d"},
        {L"w.exe", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rules::ParentFolder(c.path), c.parent)
            << testing::PrintToString(std::wstring(c.path));
}

// The work folder's name carries 128 random bits; only that exact form is ever taken for a
// leftover of an earlier run and removed.
TEST(FolderRules, WorkFolderNamesAreRecognisedByTheirWholeForm)
{
    unsigned char random[rules::kWorkFolderRandomBytes];
    for (size_t i = 0; i < sizeof random; ++i) random[i] = static_cast<unsigned char>(i * 17 + 10);
    const std::wstring name = rules::WorkFolderName(random);
    EXPECT_EQ(name, L"Morvane-0a1b2c3d4e5f708192a3b4c5d6e7f809");
    EXPECT_TRUE(rules::IsWorkFolderName(name));
    const wchar_t* others[] = {
        L"Morvane-0a1b2c3d4e5f708192a3b4c5d6e7f80",    // one digit short
        L"Morvane-0a1b2c3d4e5f708192a3b4c5d6e7f8090",  // one more
        L"Morvane-0A1B2C3D4E5F708192A3B4C5D6E7F809",   // not as we write it
        L"Morvane-0a1b2c3d4e5f708192a3b4c5d6e7f80g",
        L"morvane-0a1b2c3d4e5f708192a3b4c5d6e7f809",
        L"Morvane_0a1b2c3d4e5f708192a3b4c5d6e7f809",
        L"Morvane-",
        L"KVNew",
        L"",
    };
    for (const wchar_t* other : others)
        EXPECT_FALSE(rules::IsWorkFolderName(other)) << testing::PrintToString(std::wstring(other));
}

// What CommandLineToArgvW and the C runtime read back is checked against the real call in
// the Windows tier; here, the exact text the rule writes.
TEST(FolderRules, ArgumentsAreQuotedTheWayArgvReadsThem)
{
    struct Case {
        const wchar_t* argument;
        const wchar_t* quoted;
    } cases[] = {
        {L"C:\\Program Files\\Kavro", L"\"C:\\Program Files\\Kavro\""},
        {L"E:\\", L"\"E:\\\\\""},  // read back as the root, not as E: and a quote
        {L"\\\\srv\\share\\", L"\"\\\\srv\\share\\\\\""},
        {L"a\\\\", L"\"a\\\\\\\\\""},  // every backslash before the closing quote doubles
        {L"a\"b", L"\"a\\\"b\""},
        {L"a\\\"b", L"\"a\\\\\\\"b\""},    // backslashes before a quote double, plus one
        {L"a\\b\\\\c", L"\"a\\b\\\\c\""},  // elsewhere they stay
        {L"", L"\"\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rules::QuoteArgument(c.argument), c.quoted)
            << testing::PrintToString(std::wstring(c.argument));
    EXPECT_EQ(rules::PathArgument(L"E:\\"), L"/PATH=\"E:\\\\\"");
    EXPECT_EQ(rules::PathArgument(L"C:\\Kavro Setup"), L"/PATH=\"C:\\Kavro Setup\"");
}

// A leftover is Morvane's only with the descriptor a work folder is made with: owner
// Administrators (which no program of the user can set), a protected DACL of exactly full
// control for Administrators and then SYSTEM. Anything a user's folder can carry is not it,
// nor is what Wine reads back for every folder (the user as owner, a DACL from mode bits).
TEST(FolderRules, OnlyTheWorkFoldersOwnDescriptorMarksALeftoverAsOurs)
{
    using rules::Account;
    const rules::AccessEntry admins{Account::Administrators, true, rules::kWorkFolderAccess,
                                    rules::kWorkFolderInheritance};
    const rules::AccessEntry system{Account::System, true, rules::kWorkFolderAccess,
                                    rules::kWorkFolderInheritance};
    const rules::FolderSecurity ours{Account::Administrators, true, true, {admins, system}};
    EXPECT_TRUE(rules::IsWorkFolderSecurity(ours));

    struct Case {
        const char* what;
        void (*change)(rules::FolderSecurity*);
    } cases[] = {
        {"owned by the user", [](rules::FolderSecurity* s) { s->owner = Account::Other; }},
        {"owned by SYSTEM", [](rules::FolderSecurity* s) { s->owner = Account::System; }},
        {"no DACL (everyone may do anything)",
         [](rules::FolderSecurity* s) {
             s->daclPresent = false;
             s->entries.clear();
         }},
        {"inherits the parent's grants",
         [](rules::FolderSecurity* s) { s->daclProtected = false; }},
        {"grants the user too",
         [](rules::FolderSecurity* s) {
             s->entries.push_back({Account::Other, true, 0x001200A9u, 0x03});
         }},
        {"only one entry", [](rules::FolderSecurity* s) { s->entries.pop_back(); }},
        {"entries swapped",
         [](rules::FolderSecurity* s) { std::swap(s->entries[0], s->entries[1]); }},
        {"a deny entry in their place",
         [](rules::FolderSecurity* s) { s->entries[1].allows = false; }},
        {"less than full control",
         [](rules::FolderSecurity* s) { s->entries[0].mask = 0x001200A9u; }},
        {"not inherited by files", [](rules::FolderSecurity* s) { s->entries[1].flags = 0x02; }},
        {"SYSTEM replaced by someone else",
         [](rules::FolderSecurity* s) { s->entries[1].account = Account::Other; }},
        {"what Wine reads back",
         [](rules::FolderSecurity* s) {
             s->owner = Account::Other;
             s->daclProtected = false;
             s->entries = {{Account::System, true, rules::kWorkFolderAccess, 0x03},
                           {Account::Other, true, rules::kWorkFolderAccess, 0x03}};
         }},
    };
    for (const Case& c : cases) {
        rules::FolderSecurity changed = ours;
        c.change(&changed);
        EXPECT_FALSE(rules::IsWorkFolderSecurity(changed)) << c.what;
    }
}
