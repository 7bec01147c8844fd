#include "app/startup_rules.h"

#include <gtest/gtest.h>

#include <climits>

using app::Decision;

TEST(UnescapeControlChars, ConvertsTheThreeLowerCaseEscapesOnly)
{
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"one\\ntwo", L"one\ntwo"},
        {L"A\\tB", L"A\tB"},
        {L"C:\\new", L"C:\new"},
        {L"\\\\nx", L"\\\nx"},  // no escape for the backslash itself
        {L"\\N\\x\\T\\R", L"\\N\\x\\T\\R"},
        {L"a\\r\\nb", L"a\r\nb"},
        {L"\\", L"\\"},
        {L"end\\", L"end\\"},
        {L"", L""},
        // A pass never rescans what it put in: "\\r" then "n" is CR followed by "n".
        {L"\\rn", L"\rn"},
        {L"caf\u00e9\\t\u00e7a", L"caf\u00e9\t\u00e7a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::UnescapeControlChars(c.in), c.out)
            << "input: " << testing::PrintToString(std::wstring(c.in));
}

TEST(LanguageFolder, MapsPrimaryLanguagesAndDefaultsToEnglish)
{
    EXPECT_STREQ(app::LanguageFolderFor(0x0409 & 0x3FF), L"English");
    EXPECT_STREQ(app::LanguageFolderFor(0x0C0A & 0x3FF), L"Spanish");
    EXPECT_STREQ(app::LanguageFolderFor(0x0C0C & 0x3FF), L"French");      // Canadian French
    EXPECT_STREQ(app::LanguageFolderFor(0x0416 & 0x3FF), L"Portuguese");  // Brazilian
    EXPECT_STREQ(app::LanguageFolderFor(0x0407 & 0x3FF), L"English");     // German
    EXPECT_STREQ(app::LanguageFolderFor(0), L"English");
}

TEST(VersionAtLeast, IsLexicographicOverUnsignedValues)
{
    struct Case {
        unsigned major, minor, sp;
        int minMajor, minMinor, minSp;
        bool expected;
    } cases[] = {
        {6, 1, 1, 6, 1, 1, true},   // equal in all three
        {6, 1, 0, 6, 1, 1, false},  // one service pack short
        {6, 0, 0, 5, 1, 3, true},   // a newer minor ignores the service pack
        {6, 0, 0, 5, 9, 9, true},   // a newer major ignores minor and service pack
        {6, 2, 0, 6, 1, 1, true},   // a newer minor of the same major, likewise
        {5, 1, 2, 5, 1, 3, false},
        {5, 0, 9, 5, 1, 0, false},
        {0, 0, 0, 0, 0, 0, true},  // a failed query passes only a minimum of zeros
        {0, 0, 0, 5, 1, 3, false},
        {10, 0, 0, -1, 0, 0, false},  // a negative minimum is out of reach
        {6, 1, 1, 6, -1, 0, false},
        {6, 1, 1, 6, 1, -1, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::IsVersionAtLeast(c.major, c.minor, c.sp, c.minMajor, c.minMinor, c.minSp),
                  c.expected)
            << c.major << "." << c.minor << " sp" << c.sp << " vs " << c.minMajor << "."
            << c.minMinor << " sp" << c.minSp;
}

TEST(RevisionNewer, ComparesAsUnsigned)
{
    EXPECT_FALSE(app::IsRevisionNewer(5, 5));
    EXPECT_TRUE(app::IsRevisionNewer(6, 5));
    EXPECT_FALSE(app::IsRevisionNewer(4, 5));
    EXPECT_TRUE(app::IsRevisionNewer(-1, 5));         // 4294967295
    EXPECT_FALSE(app::IsRevisionNewer(INT_MAX, -1));  // nothing beats a local -1
    EXPECT_TRUE(app::IsRevisionNewer(INT_MIN, INT_MAX));
}

TEST(Decision, ShowsTheDialogOnlyWhenUnsupportedOrOnlineWithAnUpdate)
{
    struct Case {
        bool os, connected, update;
        Decision expected;
    } cases[] = {
        {false, false, false, Decision::ShowDialog},
        {false, true, true, Decision::ShowDialog},
        {false, false, true, Decision::ShowDialog},
        {true, false, true, Decision::LaunchLocalWizard},
        {true, false, false, Decision::LaunchLocalWizard},
        {true, true, false, Decision::LaunchLocalWizard},
        {true, true, true, Decision::ShowDialog},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::Decide({c.os, c.connected, c.update}), c.expected)
            << c.os << c.connected << c.update;
}

TEST(ControlFileValues, PackageNameIsTheUrlsLastComponentWhenPlain)
{
    struct Case {
        const wchar_t* url;
        const wchar_t* fileNamePart;  // what the shell's file-name helper gives
        const wchar_t* packageName;   // "" refuses the update
    } cases[] = {
        {L"http://h/pkg/KVSetup.exe", L"KVSetup.exe", L"KVSetup.exe"},
        {L"http://h/KVSetup.exe", L"KVSetup.exe", L"KVSetup.exe"},
        {L"http://h/pkg/", L"pkg/", L""},  // a trailing separator does not split
        {L"http://h/pkg//", L"pkg//", L""},
        {L"http://h", L"h", L"h"},
        {L"http://h/a\\b.exe", L"b.exe", L"b.exe"},
        {L"http://h/a:b.exe", L"b.exe", L"b.exe"},
        {L"http://h/p.exe?x=1", L"p.exe?x=1", L""},
        {L"http://h/..", L"..", L""},
        {L"http://h/NUL.exe", L"NUL.exe", L""},
        {L"file:///C:/KVSetup.exe", L"KVSetup.exe", L""},
        {L"\\\\h\\share\\KVSetup.exe", L"KVSetup.exe", L""},
        {L"", L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::FileNamePart(c.url), c.fileNamePart)
            << testing::PrintToString(std::wstring(c.url));
        EXPECT_EQ(app::PackageName(c.url), c.packageName)
            << testing::PrintToString(std::wstring(c.url));
    }
}

TEST(ControlFileValues, UpdateNeedsAPlainPackageASafeWizardPathAndANewerRevision)
{
    const wchar_t* url = L"http://h/pkg/KVSetup.exe";
    const wchar_t* exe = L"KVSetup\\KVWizard.exe";
    EXPECT_TRUE(app::IsUpdateOffered(url, exe, 6, 5));
    EXPECT_TRUE(app::IsUpdateOffered(url, exe, -1, 5));
    EXPECT_FALSE(app::IsUpdateOffered(url, exe, 5, 5));
    EXPECT_FALSE(app::IsUpdateOffered(url, exe, 99, -1));
    EXPECT_FALSE(app::IsUpdateOffered(L"http://h/pkg/", exe, 6, 5));
    EXPECT_FALSE(app::IsUpdateOffered(L"ftp://h/KVSetup.exe", exe, 6, 5));
    EXPECT_FALSE(app::IsUpdateOffered(url, L"..\\KVWizard.exe", 6, 5));
    EXPECT_FALSE(app::IsUpdateOffered(url, L"", 6, 5));
}

TEST(UpdateCheckKey, OnlyAClearNoTurnsChecksOff)
{
    for (const wchar_t* off : {L"0", L"off", L"OFF", L"No", L"false"})
        EXPECT_TRUE(app::TurnsUpdateChecksOff(off)) << testing::PrintToString(std::wstring(off));
    for (const wchar_t* on : {L"", L"1", L"yes", L"00", L"0x0", L"zero", L"nope"})
        EXPECT_FALSE(app::TurnsUpdateChecksOff(on)) << testing::PrintToString(std::wstring(on));
}

TEST(PackageSize, IsABareByteCountWithinTheLimit)
{
    struct Case {
        const wchar_t* text;
        bool ok;
        std::uint64_t bytes;
    } cases[] = {
        {L"1", true, 1},
        {L"12345678", true, 12345678},
        {L"2147483648", true, 2147483648ull},  // the limit itself
        {L"2147483649", false, 0},
        {L"0", false, 0},
        {L"", false, 0},
        {L"-1", false, 0},
        {L"+5", false, 0},
        {L"12 MB", false, 0},
        {L"0x10", false, 0},
        {L"99999999999999999999", false, 0},  // 20 digits: would overflow
    };
    for (const Case& c : cases) {
        std::uint64_t bytes = 0;
        EXPECT_EQ(app::ParseByteCount(c.text, 2ull << 30, &bytes), c.ok)
            << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(bytes, c.bytes) << testing::PrintToString(std::wstring(c.text));
    }
}
