#include "app/ini_text.h"

#include <gtest/gtest.h>

#include <string>

#include "text_bytes.h"

using testtext::Utf16;

namespace {

std::wstring Read(const std::string& bytes, const wchar_t* section, const wchar_t* key,
                  const wchar_t* defaultValue = L"")
{
    return app::IniText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())
        .Value(section, key, defaultValue);
}

TEST(IniText, ReadsValuesAsTheProfileReaderDoes)
{
    const std::string control =
        "; the control file\r\n"
        "[Other]\r\nDownloadUrl=http://other/x.exe\r\n"
        "[KV-Driver]\r\n"
        "  downloadurl  =   http://h/KVSetup.exe   \r\n"
        "DownloadUrl=http://second/wins-not.exe\r\n"
        "ExePath\r\n"
        "ExePath=pkg\\KVWizard.exe\r\n"
        "Revision=\t42\t\r\n"
        "Quoted=\"a b\"\r\n"
        "Single='c'\r\n"
        "Lone=\"d\r\n"
        "Escapes=one\\ntwo\\tthree\\rfour\\N\r\n"
        "Blanks=\x0B\x0C\x1C\x1F v \x1A\x1D\r\n"
        "Controls=\x01\x08\x0Ev\x19\x1B\r\n"
        "[kv-driver]\r\nLater=1\r\n";
    struct {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* defaultValue;
        const wchar_t* expected;
    } cases[] = {
        {L"KV-Driver", L"DownloadUrl", L"", L"http://h/KVSetup.exe"},  // first key, trimmed
        {L"kv-DRIVER", L"DOWNLOADURL", L"", L"http://h/KVSetup.exe"},  // any ASCII case
        {L"  KV-Driver ", L" DownloadUrl\t", L"", L"http://h/KVSetup.exe"},
        {L"Other", L"DownloadUrl", L"", L"http://other/x.exe"},
        {L"KV-Driver", L"ExePath", L"", L""},  // the first is a key with no value
        {L"KV-Driver", L"Revision", L"0", L"42"},
        {L"KV-Driver", L"Missing", L"0", L"0"},
        {L"Missing", L"Revision", L"0", L"0"},
        {L"", L"Revision", L"0", L"0"},              // no lines before the first section
        {L"KV-Driver", L"Later", L"none", L"none"},  // only the first section of a name
        {L"KV-Driver", L"Quoted", L"", L"a b"},
        {L"KV-Driver", L"Single", L"", L"c"},
        {L"KV-Driver", L"Lone", L"", L"\"d"},
        {L"KV-Driver", L"Escapes", L"", L"one\ntwo\tthree\rfour\\N"},
        {L"KV-Driver", L"Blanks", L"", L"v"},  // vertical tab, form feed, 0x1C-0x1F, Ctrl-Z
        {L"KV-Driver", L"Controls", L"", L"\x01\x08\x0Ev\x19\x1B"},  // their neighbours stay
        {L"KV-Driver", L"", L"dflt  ", L"dflt"},  // default: trailing blanks dropped
    };
    for (const auto& c : cases)
        EXPECT_EQ(Read(control, c.section, c.key, c.defaultValue), c.expected)
            << c.section << "/" << c.key;
}

TEST(IniText, CutsValuesAt259CharactersBeforeConvertingEscapes)
{
    const std::string longValue(300, 'x');
    EXPECT_EQ(Read("[S]\nK=" + longValue, L"S", L"K"), std::wstring(259, L'x'));
    // The cut falls between a backslash and its letter: the backslash stays.
    EXPECT_EQ(Read("[S]\nK=" + std::string(258, 'x') + "\\nmore", L"S", L"K"),
              std::wstring(258, L'x') + L"\\");
    EXPECT_EQ(Read("[S]\nK=" + std::string(257, 'x') + "\\nmore", L"S", L"K"),
              std::wstring(257, L'x') + L"\n");
    // Quotes go only when the value fitted; a cut one keeps its opening quote dropped.
    EXPECT_EQ(Read("[S]\nK=\"" + std::string(258, 'q') + "\"", L"S", L"K"),
              std::wstring(258, L'q'));
    // Exactly 259 inside quotes: the buffer cuts the closing quote, and the reader still drops
    // the last character it copied, a letter of the value.
    EXPECT_EQ(Read("[S]\nK=\"" + std::string(259, 'q') + "\"", L"S", L"K"),
              std::wstring(258, L'q'));
    EXPECT_EQ(Read("[S]\nK=\"" + longValue + "\"", L"S", L"K"), std::wstring(259, L'x'));
    EXPECT_EQ(Read("[S]\nJ=", L"S", L"K", std::wstring(300, L'd').c_str()),
              std::wstring(259, L'd'));
}

TEST(IniText, DecodesEachEncodingTheReaderTakes)
{
    struct {
        std::string bytes;
        const wchar_t* expected;
        const char* what;
    } cases[] = {
        {Utf16(L"[S]\r\nK=\u00C9t\u00E9 \u20AC\r\n"), L"\u00C9t\u00E9 \u20AC", "UTF-16LE"},
        {Utf16(L"[s]\nk = v") + "\x41", L"v", "UTF-16LE with an odd last byte"},
        {std::string("\xFE\xFF\0[\0S\0]\0\n\0K\0=\0v", 16), L"v", "UTF-16BE"},
        {std::string("\xFE\xFF\0[\0S\0]\0\n\0K\0=\x20\xAC", 16), L"\u20AC",
         "UTF-16BE past Latin-1"},
        {std::string("\xFE\xFF\0[\0S\0]\0\n\0K\0=\0v", 16) + "\x41", L"v",
         "UTF-16BE with an odd last byte"},
        {"\xFF\n[S]\nK=v", L"v", "0xFF without 0xFE is no mark"},
        {"\xEF\xBB\xBF[S]\nK=\xC3\xA9t\xC3\xA9", L"\u00E9t\u00E9", "UTF-8 with its mark"},
        {"[S]\nK=\xC3\xA9", L"\u00E9", "UTF-8 without"},
        {"[S]\nK=a\xE9z", L"a\uFFFDz", "a byte that is no UTF-8"},
        {"[S]\nK=\xC3", L"\uFFFD", "a sequence cut off by the end"},
        {"[S]\nK=\xC3"
         "A",
         L"\uFFFDA", "a lead before a byte that continues nothing"},
        {"[S]\nK=\xE2\x82\xAC\xEF\xBC\xA1", L"\u20AC\uFF21", "three bytes, first and last lead"},
        {"[S]\nK=\xC1\x80\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD", "an overlong lead before three"},
        {"[S]\nK=\xE0\x80\x80", L"\uFFFD\uFFFD\uFFFD", "an overlong form"},
        {"[S]\nK=\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD", "a surrogate in UTF-8"},
        {"\xEF\xBB\xBF", L"", "the mark alone"},
        {"", L"", "nothing"},
    };
    for (const auto& c : cases) EXPECT_EQ(Read(c.bytes, L"S", L"K"), c.expected) << c.what;

    // Above U+FFFF: a surrogate pair, as in a Windows string, whatever wchar_t's size.
    const std::wstring pair = Read("[S]\nK=\xF0\x9F\x98\x80", L"S", L"K");
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(static_cast<unsigned>(pair[0]), 0xD83Du);
    EXPECT_EQ(static_cast<unsigned>(pair[1]), 0xDE00u);
}

TEST(IniText, KeepsLinesAndSectionsApart)
{
    struct {
        std::string bytes;
        const wchar_t* section;
        const wchar_t* expected;
        const char* what;
    } cases[] = {
        {"K=top\n[S]\nK=s", L"", L"top", "lines before any section have a nameless one"},
        {"[S]\nK=s\n[]\nK=empty", L"", L"", "the nameless section is the one at the top"},
        {"[S]x\nK=v", L"S", L"v", "text after the bracket"},
        {"[S]]\nK=v", L"S]", L"v", "the last bracket closes the name"},
        {"[S\nK=v", L"S", L"", "a header without a bracket is no header"},
        {"  [S]  \r\n\tK=v", L"S", L"v", "blanks around a header"},
        {"[ S\t]\nK=v", L"S", L"v", "blanks inside a header"},
        {"[S]\rK=v\rJ=w", L"S", L"v", "a carriage return alone ends a line"},
        {"[S]\nK=a=b", L"S", L"a=b", "the first '=' splits"},
        {"[S]\nK=v\x1a", L"S", L"v", "Ctrl-Z is a blank"},
        {std::string("[S]\nK=a\0b", 9), L"S", L"a", "a NUL ends the value"},
    };
    for (const auto& c : cases) EXPECT_EQ(Read(c.bytes, c.section, L"K"), c.expected) << c.what;
}

}  // namespace
