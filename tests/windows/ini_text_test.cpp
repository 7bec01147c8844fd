// The in-memory INI reader held against the platform's profile reader, file by file.
#include "app/ini_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/morvane_app.h"
#include "fixture_server.h"
#include "sys/control_fetch.h"
#include "test_support.h"
#include "text_bytes.h"

using testing_support::ScratchDir;
using testing_support::WriteBytes;

using testtext::Utf16;

namespace {

// Every lookup below, on every file, gives what ReadIniValue (GetPrivateProfileStringW with a
// 260-character buffer, then the escapes) gives for the same bytes on disk.
TEST(IniText, GivesWhatTheProfileReaderGivesForTheSameBytes)
{
    const std::string longValue(300, 'x');
    const std::string files[] = {
        "[KV]\r\nDownloadUrl=http://h/KVSetup.exe\r\nExePath=pkg\\KVWizard.exe\r\nRevision=7\r\n",
        "; comment\r\n[Other]\r\nRevision=1\r\n[kv]\r\n  revision  =  \t 42 \t\r\n"
        "REVISION=43\r\n[KV]\r\nRevision=44\r\nExePath=second\r\n",
        "[KV]\nExePath\nExePath=after\nDownloadUrl=a=b\n",
        "[KV]\nDownloadUrl=\"quoted value\"\nExePath='single'\nRevision=\"lone\n",
        "[KV]\nDownloadUrl=\"" + longValue + "\"\nExePath=" + longValue + "\n",
        "[KV]\nDownloadUrl=\"" + std::string(259, 'q') + "\"\nExePath=\"" + std::string(258, 'r') +
            "\"\nRevision='" + std::string(260, 's') + "'\n",
        "[KV]\nDownloadUrl=" + std::string(258, 'y') + "\\nz\nExePath=one\\ntwo\\tthree\\N\n",
        "Revision=top\n[KV]\nExePath=v\x1a\n[]\nRevision=empty\n",
        "  [ KV ]  \nRevision=spaced header\n[KV\nRevision=no bracket\n[KV]x\nRevision=after\n",
        "[KV]]\nRevision=two brackets\n[KV]\nRevision=plain\n",
        "[KV]\r\nRevision=cr\rDownloadUrl=only\r\n",
        "\xEF\xBB\xBF[KV]\r\nDownloadUrl=\xC3\xA9t\xC3\xA9\r\nRevision=9\r\n",
        Utf16(L"[KV]\r\nDownloadUrl=\u00C9t\u00E9 \u20AC\r\nExePath = x \r\n"),
        "",
    };
    const struct {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* defaultValue;
    } lookups[] = {
        {L"KV", L"DownloadUrl", L""},         {L"KV", L"ExePath", L""}, {L"KV", L"Revision", L"0"},
        {L" kv ", L" revision ", L"0"},       {L"", L"Revision", L"0"}, {L"KV]", L"Revision", L""},
        {L"Missing", L"Revision", L"dflt  "},
    };
    ScratchDir dir;
    int index = 0;
    for (const std::string& bytes : files) {
        // A new name for each file: the profile reader keeps recently read files cached.
        const std::wstring path = dir / (L"control" + std::to_wstring(index++) + L".ini");
        ASSERT_TRUE(WriteBytes(path, bytes));
        const app::IniText text(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        for (const auto& l : lookups)
            EXPECT_EQ(text.Value(l.section, l.key, l.defaultValue),
                      app::ReadIniValue(l.section, l.key, l.defaultValue, path))
                << "file " << index - 1 << ", [" << l.section << "] " << l.key;
    }
}

// The control file as the update check is to read it: fetched into memory and read there.
TEST(ControlFileInMemory, FetchedBytesAreReadWithoutAFileAndOnlyWhenWhole)
{
    const std::string control =
        "[KV Universal]\r\nDownloadUrl=http://h/KVSetup.exe\r\nExePath=KVNew\\KVWizard.exe\r\n"
        "Revision=7\r\n" +
        std::string(3000, ';') + "\r\n";
    const std::wstring name = L"ini-text-control.txt";
    ASSERT_TRUE(WriteBytes(testing_support::ServerRoot() + L"\\" + name, control));

    std::vector<char> body(5, 'x');
    ASSERT_TRUE(
        sys::FetchControlFile(testing_support::ServerUrl(name), win::Deadline(10000), &body));
    ASSERT_EQ(std::string(body.begin(), body.end()), control);
    const app::IniText text(reinterpret_cast<const unsigned char*>(body.data()), body.size());
    EXPECT_EQ(text.Value(L"kv universal", L"ExePath", L""), L"KVNew\\KVWizard.exe");
    EXPECT_EQ(text.Value(L"KV Universal", L"Revision", L"0"), L"7");

    const std::wstring failing[] = {
        testing_support::ServerUrl(L"cut/" + name),  // half the body, then the end
        testing_support::ServerUrl(L"404/" + name),
        L"file:///" + testing_support::ServerRoot() + L"\\" + name,  // not a web URL
    };
    for (const std::wstring& url : failing) {
        body.assign(5, 'x');
        EXPECT_FALSE(sys::FetchControlFile(url, win::Deadline(10000), &body)) << url;
        EXPECT_TRUE(body.empty()) << url;
    }
}

}  // namespace
