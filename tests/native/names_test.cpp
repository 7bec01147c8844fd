#include "rules/names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "pack/payload.h"
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
    // "  .txt": a stem of blanks only, trimmed to nothing.
    const wchar_t* good[] = {
        L"setup.exe",     L"KVUpdate 2.0.exe", L"\u00e9t\u00e9.exe", L"a",
        L"console.exe",   L"com10.exe",        L"nul-thing.exe",     L".hidden",
        L"COM\u2074.exe", L"LPT\u00B9x.exe",   L"COM\u2081.exe",     L"  .txt"};
    for (const wchar_t* name : good)
        EXPECT_TRUE(rules::IsPlainFileName(name)) << testing::PrintToString(std::wstring(name));

    // "pkg.exe.": Win32 drops the trailing dot, so it names another file.
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
                            L"pkg.exe."};
    for (const wchar_t* name : bad)
        EXPECT_FALSE(rules::IsPlainFileName(name)) << testing::PrintToString(std::wstring(name));
}

TEST(ControlFileNames, PackageUrlMustBeHttpOrHttps)
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

TEST(ControlFileNames, ExePathStaysInsideTheTemporaryFolder)
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
