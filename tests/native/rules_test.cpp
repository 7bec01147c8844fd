#include "rules/folders.h"
#include "rules/little_endian.h"
#include "rules/names.h"
#include "rules/pe_headers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "pack/payload.h"
#include "pe_image_builder.h"
#include "sys/tree_rules.h"

namespace {

// UTF-8 of a name, as a package's entry table carries it.
std::string Utf8(const std::wstring& wide)
{
    std::string out;
    for (wchar_t w : wide) {
        const auto c = static_cast<uint32_t>(w);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

// Start-up, the package format and the tree walks once answered "is this a plain file name?"
// three ways; each case here is one they disagreed on, and now all three give one answer.
TEST(OneRule, EveryAskerGivesTheSameAnswerForAName)
{
    struct Case {
        std::wstring name;
        bool plain;
    } cases[] = {
        {L"KVWizard.exe", true},
        {L" lead", true},
        {L"CONSOLE", true},
        {L"COM10", true},
        {L"a.", false},  // Win32 opens "a"
        {L"a ", false},  // likewise
        {L"KVNew.", false},
        {L"CLOCK$", false},
        {L"clock$.txt", false},
        {L"Clock$ .log", false},
        {L"CONIN$", false},
        {L"conout$.x", false},
        {L"COM\u00B9", false},
        {L"com\u00B2.exe", false},
        {L"LPT\u00B3.txt", false},
        {L"a:b", false},  // an alternate data stream
        {L"a.txt::$DATA", false},
        {L"nul.tar.gz", false},
        {L"del\x7F", false},
        {std::wstring(rules::kMaxFileNameLength, L'n'), true},
        {std::wstring(rules::kMaxFileNameLength + 1, L'n'), false},
    };
    for (const Case& c : cases) {
        const std::string shown = testing::PrintToString(c.name);
        EXPECT_EQ(rules::IsPlainFileName(c.name), c.plain) << shown;
        EXPECT_EQ(pack::CheckNameLevel(Utf8(c.name)), c.plain) << shown;
        EXPECT_EQ(rules::IsSafeExePath(L"KVNew\\" + c.name), c.plain) << shown;
        EXPECT_EQ(rules::IsSafeExePath(c.name + L"\\KVWizard.exe"), c.plain) << shown;
        sys::FolderPath split;
        EXPECT_EQ(sys::SplitFolderPath(L"C:\\Temp\\" + c.name, &split), c.plain) << shown;
    }
}

TEST(OneRule, WebUrlsNeedSchemeSlashesAndHost)
{
    struct Case {
        const wchar_t* url;
        bool web, https;
    } cases[] = {
        {L"https://h/p.exe", true, true},
        {L"hTTpS://H/P.EXE", true, true},
        {L"http://h/p.exe", true, false},
        {L"https:x", false, false},  // the shell's own test takes this as a URL
        {L"https:/x", false, false},
        {L"https://", false, false},
        {L"https:///x", false, false},
        {L"https:\\\\x\\p", false, false},
        {L"file://h/p", false, false},
        {L"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rules::IsWebUrl(c.url), c.web) << testing::PrintToString(std::wstring(c.url));
        EXPECT_EQ(rules::IsHttpsUrl(c.url), c.https) << testing::PrintToString(std::wstring(c.url));
    }
}

TEST(PlainFileName, AcceptsOnlyNamesThatStayInsideTheirFolder)
{
    const wchar_t* good[] = {
        L"setup.exe",         L"KVUpdate 2.0.exe",
        L"\u00e9t\u00e9.exe", L"a",
        L"console.exe",       L"com10.exe",
        L"nul-thing.exe",     L".hidden",
        L"COM\u2074.exe",     L"LPT\u00B9x.exe",
        L"COM\u2081.exe",     L"  .txt"};  // a stem of blanks only, trimmed to nothing
    for (const wchar_t* name : good)
        EXPECT_TRUE(rules::IsPlainFileName(name)) << testing::PrintToString(std::wstring(name));

    const wchar_t* bad[] = {L"",
                            L".",
                            L"..",
                            L"...",
                            L" ",
                            L". .",
                            L"a/b",
                            L"a\\b",
                            L"c:x",
                            L"pkg.exe?v=2",
                            L"a*b",
                            L"a|b",
                            L"a\"b",
                            L"a<b",
                            L"a>b",
                            L"a\tb",
                            L"a\x01",
                            L"CON",
                            L"nul",
                            L"nul.exe",
                            L"Com1.exe",
                            L"LPT9",
                            L"aux .txt",
                            L"aux  .txt",
                            L"CONOUT$",
                            L"host/",
                            L"COM\u00B9",
                            L"com\u00B2.exe",
                            L"Lpt\u00B3 .msi",
                            L"LPT\u00B9.exe.exe",
                            L"pkg.exe."};  // Win32 drops the trailing dot: another file
    for (const wchar_t* name : bad)
        EXPECT_FALSE(rules::IsPlainFileName(name)) << testing::PrintToString(std::wstring(name));
}

TEST(ControlFileValues, PackageUrlMustBeHttpOrHttps)
{
    const wchar_t* good[] = {L"http://h/p.exe", L"https://support.kavro.example/KVSetup.exe",
                             L"HTTPS://H/P.EXE", L"http://127.0.0.1:8080/a/b.msi"};
    for (const wchar_t* url : good)
        EXPECT_TRUE(rules::IsWebUrl(url)) << testing::PrintToString(std::wstring(url));
    const wchar_t* bad[] = {L"",
                            L"file:///C:/x/p.exe",
                            L"file://host/share/p.exe",
                            L"\\\\host\\share\\p.exe",
                            L"C:\\x\\p.exe",
                            L"ftp://h/p.exe",
                            L"http:/h/p.exe",
                            L"http://",
                            L"http:///p.exe",
                            L"http:\\\\h\\p.exe",
                            L"xhttp://h/p.exe",
                            L"https//h/p.exe"};
    for (const wchar_t* url : bad)
        EXPECT_FALSE(rules::IsWebUrl(url)) << testing::PrintToString(std::wstring(url));
}

TEST(ControlFileValues, ExePathStaysInsideTheTemporaryFolder)
{
    const wchar_t* good[] = {L"KVSetup\\KVWizard.exe", L"a b\\c d\\KVWizard.exe",
                             L"KV.New\\Setup.exe", L"caf\u00e9\\w.exe"};
    for (const wchar_t* path : good)
        EXPECT_TRUE(rules::IsSafeExePath(path)) << testing::PrintToString(std::wstring(path));
    const wchar_t* bad[] = {L"",
                            L"KVWizard.exe",  // no folder: the clean-up would take the temp folder
                            L"..\\KVWizard.exe",
                            L"a\\..\\..\\w.exe",
                            L".\\w.exe",
                            L"a\\.\\w.exe",
                            L"\\a\\w.exe",
                            L"C:\\a\\w.exe",
                            L"C:a\\w.exe",
                            L"\\\\host\\share\\w.exe",
                            L"\\\\?\\C:\\a\\w.exe",
                            L"a\\\\w.exe",
                            L"a\\w.exe\\",
                            L"a/w.exe",
                            L"a/../../w.exe",
                            L"a\\w.exe:stream",
                            L"a:s\\w.exe",
                            L"CON\\w.exe",
                            L"a\\nul.exe",
                            L"a\\...\\w.exe",
                            L"a \\ \\w.exe",
                            L"KVNew.\\KVWizard.exe",
                            L"KVNew \\KVWizard.exe"};
    for (const wchar_t* path : bad)
        EXPECT_FALSE(rules::IsSafeExePath(path)) << testing::PrintToString(std::wstring(path));
}

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

TEST(LittleEndian, ReadsOnlyWhatLiesInsideTheLength)
{
    const unsigned char bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    uint16_t v16 = 0;
    uint32_t v32 = 0;
    uint64_t v64 = 0;
    ASSERT_TRUE(rules::ReadLe16(bytes, sizeof bytes, 7, &v16));
    EXPECT_EQ(v16, 0x0908u);
    ASSERT_TRUE(rules::ReadLe32(bytes, sizeof bytes, 0, &v32));
    EXPECT_EQ(v32, 0x04030201u);
    ASSERT_TRUE(rules::ReadLe64(bytes, sizeof bytes, 1, &v64));
    EXPECT_EQ(v64, 0x0908070605040302ull);

    v32 = 0xAAAAAAAAu;
    EXPECT_FALSE(rules::ReadLe16(bytes, sizeof bytes, 8, &v16));
    EXPECT_FALSE(rules::ReadLe32(bytes, sizeof bytes, 6, &v32));
    EXPECT_FALSE(rules::ReadLe64(bytes, sizeof bytes, 2, &v64));
    EXPECT_FALSE(rules::ReadLe32(bytes, sizeof bytes, UINT64_MAX - 1, &v32));  // no wrap-around
    EXPECT_FALSE(rules::ReadLe32(bytes, 0, 0, &v32));
    EXPECT_EQ(v32, 0xAAAAAAAAu);  // untouched on failure
}

TEST(PeHeaders, WalksBothFormatsAndRefusesWhatDoesNotFit)
{
    for (bool plus : {false, true}) {
        testimage::ImageOptions options;
        options.plus = plus;
        options.sections = 3;
        options.resourceRva = 0x2000;
        const std::string image = testimage::MinimalImage(options);
        const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
        rules::PeHeaders h;
        ASSERT_TRUE(rules::ReadPeHeaders(bytes, image.size(), &h)) << plus;
        EXPECT_EQ(h.plus, plus);
        EXPECT_EQ(h.signature, 0x40u);
        EXPECT_EQ(h.optional, 0x40u + 24);
        EXPECT_EQ(h.directoryCount, 16u);
        EXPECT_EQ(h.sectionCount, 3u);
        EXPECT_EQ(
            rules::ReadPeDirectory(bytes, image.size(), h, rules::kPeResourceDirectory).address,
            0x2000u);
        EXPECT_EQ(rules::ReadPeDirectory(bytes, image.size(), h, 16).size, 0u);  // past the count
        std::vector<rules::PeSection> sections;
        ASSERT_TRUE(rules::ReadPeSections(bytes, image.size(), h, &sections));
        ASSERT_EQ(sections.size(), 3u);
        EXPECT_EQ(sections[2].virtualAddress, 0x3000u);
        EXPECT_FALSE(rules::ReadPeSections(bytes, static_cast<size_t>(h.sectionTable) + 40 * 3 - 1,
                                           h, &sections));
        // The walk stops at the end of the optional header.
        EXPECT_TRUE(rules::ReadPeHeaders(bytes, static_cast<size_t>(h.sectionTable), &h));
        EXPECT_FALSE(rules::ReadPeHeaders(bytes, static_cast<size_t>(h.sectionTable) - 1, &h));

        std::string tooMany = image;  // more data directories than the format has
        testimage::Put(&tooMany, static_cast<size_t>(h.directories) - 4, 17, 4);
        EXPECT_FALSE(rules::ReadPeHeaders(reinterpret_cast<const unsigned char*>(tooMany.data()),
                                          tooMany.size(), &h));
        std::string sectionsGalore = image;  // more sections than a loader takes
        testimage::Put(&sectionsGalore, 0x44 + 2, rules::kMaxPeSections + 1, 2);
        const auto* galore = reinterpret_cast<const unsigned char*>(sectionsGalore.data());
        ASSERT_TRUE(rules::ReadPeHeaders(galore, sectionsGalore.size(), &h));
        EXPECT_FALSE(rules::ReadPeSections(galore, sectionsGalore.size(), h, &sections));
    }
}
