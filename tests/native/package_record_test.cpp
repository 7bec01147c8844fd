#include "rules/package_record.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using rules::RecordMatch;

bool Read(const std::string& text, rules::PackageRecord* out)
{
    return rules::ReadPackageRecord(reinterpret_cast<const unsigned char*>(text.data()),
                                    text.size(), out);
}

const char kGood[] =
    "Morvane-Package: 1\nSection: KV Universal\nRevision: 7\nFolder: KVNew\nWizard: KVWizard.exe\n";

TEST(PackageRecord, WritesWhatItReadsBack)
{
    const std::string text =
        rules::EncodePackageRecord("KV Universal", "7", "KVNew", "KVWizard.exe");
    EXPECT_EQ(text, kGood);
    rules::PackageRecord record;
    ASSERT_TRUE(Read(text, &record));
    EXPECT_EQ(record.section, L"KV Universal");
    EXPECT_EQ(record.revision, 7u);
    EXPECT_EQ(record.folder, L"KVNew");
    EXPECT_EQ(record.wizard, L"KVWizard.exe");
    // UTF-8 names come back as the UTF-16 Windows sees; a wizard may lie deeper in the folder.
    ASSERT_TRUE(Read(rules::EncodePackageRecord("KV \xC3\x89t\xC3\xA9", "2147483647",
                                                "Nouveaut\xC3\xA9", "bin\\KVWizard.exe"),
                     &record));
    EXPECT_EQ(record.section, L"KV \u00c9t\u00e9");
    EXPECT_EQ(record.revision, 2147483647u);
    EXPECT_EQ(record.folder, L"Nouveaut\u00e9");
    EXPECT_EQ(record.wizard, L"bin\\KVWizard.exe");
    ASSERT_TRUE(Read(rules::EncodePackageRecord("KV", "10", "KVNew", "KVWizard.exe"), &record));
    EXPECT_EQ(record.revision, 10u);
}

// Anything but the exact form is no record, so a package cannot be read two ways.
TEST(PackageRecord, RefusesEveryOtherForm)
{
    const std::string good = kGood;
    const struct {
        std::string text;
        const char* what;
    } cases[] = {
        {"", "empty"},
        {good.substr(0, good.size() - 1), "last line without its end"},
        {good + "Extra: 1\n", "a line more"},
        {"\n" + good, "a line before"},
        {"Morvane-Package: 2\n" + good.substr(19), "another version"},
        {"Morvane-Package: 1\r\nSection: KV\nRevision: 7\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "carriage return"},
        {"Morvane-Package: 1\nRevision: 7\nSection: KV\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "keys out of order"},
        {"Morvane-Package: 1\nSection: \nRevision: 7\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "no section"},
        {"Morvane-Package: 1\nSection: [KV]\nRevision: 7\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "brackets in the section"},
        {"Morvane-Package: 1\nSection: K\tV\nRevision: 7\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "control character in the section"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 0\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "revision 0"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 07\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "leading zero"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 1/\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "a character just below the digits"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 2147483648\nFolder: KVNew\n"
         "Wizard: KVWizard.exe\n",
         "revision past 2^31-1"},
        {"Morvane-Package: 1\nSection: KV\nRevision: -7\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "negative revision"},
        {"Morvane-Package: 1\nSection: KV\nRevision: \nFolder: KVNew\nWizard: KVWizard.exe\n",
         "no revision"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 7a\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "a letter in the revision"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 18446744073709551623\nFolder: KVNew\n"
         "Wizard: KVWizard.exe\n",
         "a revision that wraps 64 bits to 7"},
        {"Morvane-Package: 1\nSection: K\x7fV\nRevision: 7\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "DEL in the section"},
        {"Morvane-Package: 1\nSection: KV]\nRevision: 7\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "a closing bracket in the section"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 7\nFolder: ..\nWizard: KVWizard.exe\n",
         "folder that climbs"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 7\nFolder: a\\b\nWizard: KVWizard.exe\n",
         "folder of two levels"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 7\nFolder: KVNew\nWizard: ..\\x.exe\n",
         "wizard outside the folder"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 7\nFolder: KVNew\nWizard: C:\\x.exe\n",
         "wizard with a drive"},
        {"Morvane-Package: 1\nSection: KV\nRevision: 7\nFolder: KVNew\nWizard: \n", "no wizard"},
        {"Morvane-Package: 1\nSection: K\xC3\nRevision: 7\nFolder: KVNew\nWizard: KVWizard.exe\n",
         "broken UTF-8"},
        {std::string(5000, 'x'), "too long"},
    };
    for (const auto& c : cases) {
        rules::PackageRecord record;
        EXPECT_FALSE(Read(c.text, &record)) << c.what;
    }
    EXPECT_EQ(rules::EncodePackageRecord("KV", "0", "KVNew", "KVWizard.exe"), "");
    EXPECT_EQ(rules::EncodePackageRecord("KV", "7", "..", "KVWizard.exe"), "");
}

// The package is the offer itself, or it does not run: no other product's package, no older
// package offered as newer, no wizard path outside what it unpacks.
TEST(PackageRecord, MatchesOnlyTheOfferedPackage)
{
    rules::PackageRecord record;
    ASSERT_TRUE(Read(kGood, &record));
    const struct {
        const wchar_t* drvName;
        int32_t offered;
        int32_t installed;
        const wchar_t* exePath;
        RecordMatch want;
    } cases[] = {
        {L"KV Universal", 7, 6, L"KVNew\\KVWizard.exe", RecordMatch::Matches},
        {L" kv universal\t", 7, 6, L"kvnew\\kvwizard.EXE", RecordMatch::Matches},
        {L"KV Universal", 7, -1, L"KVNew\\KVWizard.exe", RecordMatch::NotNewer},  // as unsigned
        {L"KV Other", 7, 6, L"KVNew\\KVWizard.exe", RecordMatch::OtherSection},
        {L"KV Universa", 7, 6, L"KVNew\\KVWizard.exe", RecordMatch::OtherSection},
        {L"KV Universal", 999, 6, L"KVNew\\KVWizard.exe", RecordMatch::OtherRevision},
        {L"KV Universal", 6, 5, L"KVNew\\KVWizard.exe", RecordMatch::OtherRevision},
        {L"KV Universal", 7, 7, L"KVNew\\KVWizard.exe", RecordMatch::NotNewer},
        {L"KV Universal", 7, 8, L"KVNew\\KVWizard.exe", RecordMatch::NotNewer},
        {L"KV Universal", 7, 6, L"Other\\KVWizard.exe", RecordMatch::OtherExePath},
        {L"KV Universal", 7, 6, L"KVNew\\Other.exe", RecordMatch::OtherExePath},
        {L"KV Universal", 7, 6, L"KVNew\\Sub\\KVWizard.exe", RecordMatch::OtherExePath},
    };
    for (const auto& c : cases) {
        const RecordMatch got =
            rules::MatchPackageRecord(record, c.drvName, c.offered, c.installed, c.exePath);
        EXPECT_EQ(got, c.want) << testing::PrintToString(std::wstring(c.drvName)) << " "
                               << c.offered << " " << c.installed << " "
                               << testing::PrintToString(std::wstring(c.exePath));
    }
}

}  // namespace
