// The update check against the loopback fixture server.
#include "app/morvane_app.h"

#include <shlwapi.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <vector>

#include "app/startup_rules.h"
#include "fixture_server.h"
#include "test_support.h"
#include "win/handles.h"
#include "win/syslib.h"

using testing_support::ClosedPort;
using testing_support::Exists;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::ServerPort;
using testing_support::ServerRoot;
using testing_support::ServerUrl;
using testing_support::WriteBytes;

namespace {

// The served control files are signed under the test root.
const auto* const g_root =
    ::testing::AddGlobalTestEnvironment(new testing_support::TestRootEnvironment);

class UpdateCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(ServerPort(), 0) << "fixture server not running";
        app.m_values.installation = settings::MakeInstallation(L"C:\\app", temp.path(), L"English");
        app.m_values.settings.drvName = L"KV Driver";
        app.m_values.settings.installerRevision = 5;
    }
    // Serves a control file under a name of this test's own and points the app at it. The
    // server signs a *.ini that holds no signature with the maker's test signer; another
    // extension is served as written.
    void Serve(const std::string& body, const wchar_t* extension = L".ini")
    {
        const std::wstring name = std::wstring(L"ctl-") + std::to_wstring(::GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(++served) + extension;
        ASSERT_TRUE(WriteBytes(ServerRoot() + L"\\" + name, body));
        app.m_values.settings.installerCtlFile = ServerUrl(name);
        localCopy = temp / name;
    }
    static std::string Section(const std::string& revision,
                               const std::string& exePath = "KV\\KVWizard.exe",
                               const std::string& url = "http://127.0.0.1:1/pkg/KVUpdate.exe")
    {
        std::string s = "[Other]\r\nRevision=999\r\n[kv driver]\r\n";
        if (!url.empty()) s += "DownloadUrl=" + url + "\r\n";
        if (!exePath.empty()) s += "ExePath=" + exePath + "\r\n";
        if (!revision.empty()) s += "Revision=" + revision + "\r\n";
        return s;
    }

    ScratchDir temp;
    app::CMorvaneApp app;
    std::wstring localCopy;
    int served = 0;
};

TEST_F(UpdateCheck, ComparesRevisionsAsUnsignedAndRemovesTheLocalCopy)
{
    struct Case {
        int local;
        const char* remote;
        int expected;
    } cases[] = {
        {5, "5", 0},           {5, "6", 1},   {5, "4", 0}, {5, "-1", 1},
        {-1, "2147483647", 0}, {-1, "-1", 0}, {0, "", 0},  {0, "1abc", 1},
    };
    for (const auto& c : cases) {
        app.m_values.settings.installerRevision = c.local;
        Serve(Section(c.remote));
        EXPECT_EQ(app.CheckForUpdate(), c.expected) << c.local << " vs " << c.remote;
        EXPECT_FALSE(Exists(localCopy));
    }
    EXPECT_EQ(app.m_values.offer.downloadUrl, L"http://127.0.0.1:1/pkg/KVUpdate.exe");
    EXPECT_EQ(app.m_values.offer.packageName, L"KVUpdate.exe");
    EXPECT_EQ(app.m_values.offer.exePath, L"KV\\KVWizard.exe");
    EXPECT_EQ(app.m_values.offer.revision, 1);
}

// DownloadUrl2 up to DownloadUrl5 are further addresses of the package, tried in the order of
// their numbers; one that breaks DownloadUrl's rules is never tried, and a sixth is not read.
TEST_F(UpdateCheck, MirrorsFollowDownloadUrlInOrderUnderItsRules)
{
    Serve(Section("6") +
          "DownloadUrl3=https://c.example/KVUpdate.exe\r\n"
          "DownloadUrl2=http://b.example/kv/KVUpdate.exe\r\n"
          "DownloadUrl4=ftp://d.example/KVUpdate.exe\r\n"
          "DownloadUrl5=http://e.example/kv/\r\n"
          "DownloadUrl6=http://f.example/KVUpdate.exe\r\n");
    EXPECT_EQ(app.CheckForUpdate(), 1);
    EXPECT_EQ(app.m_values.offer.mirrorUrls,
              (std::vector<std::wstring>{L"http://b.example/kv/KVUpdate.exe",
                                         L"https://c.example/KVUpdate.exe"}));
    Serve(Section("6"));
    EXPECT_EQ(app.CheckForUpdate(), 1);
    EXPECT_TRUE(app.m_values.offer.mirrorUrls.empty());
}

TEST_F(UpdateCheck, MissingSectionOrKeysGiveNoUpdate)
{
    Serve("[Other]\r\nDownloadUrl=http://h/p.exe\r\nExePath=a\\b.exe\r\nRevision=99\r\n");
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(localCopy));

    app.m_values.settings.drvName.clear();  // looks up a section with an empty name
    Serve(Section("99"));
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(localCopy));

    app.m_values.settings.drvName = L"KV Driver";
    Serve(Section("99", ""));
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(localCopy));
    // An offer is made whole or not at all: nothing of a refused control file is kept.
    EXPECT_EQ(app.m_values.offer.downloadUrl, L"");
    EXPECT_EQ(app.m_values.offer.packageName, L"");
}

TEST_F(UpdateCheck, PackageNameMustBeAPlainFileInTheTempFolder)
{
    const char* urls[] = {"http://h/pkg/",      "http://h/pkg/.",   "http://h/pkg/..",
                          "http://h/p.exe?x=1", "http://h/a*b.exe", "http://h/a|b.exe",
                          "http://h/NUL.exe"};
    for (const char* url : urls) {
        app::CMorvaneApp fresh;
        fresh.m_values.installation =
            settings::MakeInstallation(L"C:\\app", temp.path(), L"English");
        fresh.m_values.settings.drvName = L"KV Driver";
        app.m_values.settings.drvName = L"KV Driver";
        Serve(Section("99", "KV\\KVWizard.exe", url));
        fresh.m_values.settings.installerCtlFile = app.m_values.settings.installerCtlFile;
        EXPECT_EQ(fresh.CheckForUpdate(), 0) << url;
        EXPECT_EQ(fresh.m_values.offer.packageName, L"") << url;
        EXPECT_FALSE(Exists(localCopy)) << url;
    }
}

// ExePath decides what runs elevated and what the clean-up deletes; DownloadUrl what is opened
// as the package. Values that could reach outside the temp folder offer no update.
TEST_F(UpdateCheck, HostileExePathOrPackageUrlOffersNoUpdate)
{
    struct Case {
        const char* exePath;
        const char* url;
    } cases[] = {
        {"KVWizard.exe", "http://h/p.exe"},      {"..\\KVWizard.exe", "http://h/p.exe"},
        {"KV\\..\\..\\w.exe", "http://h/p.exe"}, {"C:\\KV\\w.exe", "http://h/p.exe"},
        {"\\\\h\\s\\w.exe", "http://h/p.exe"},   {"KV\\w.exe:s", "http://h/p.exe"},
        {"KV\\w.exe", "file:///C:/p.exe"},       {"KV\\w.exe", "\\\\h\\share\\p.exe"},
        {"KV\\w.exe", "ftp://h/p.exe"},
    };
    for (const auto& c : cases) {
        Serve(Section("99", c.exePath, c.url));
        EXPECT_EQ(app.CheckForUpdate(), 0) << c.exePath << " " << c.url;
        EXPECT_FALSE(Exists(localCopy)) << c.exePath << " " << c.url;
    }
    Serve(Section("99", "KV New\\KVWizard.exe", "HTTPS://h/p.exe"));
    EXPECT_EQ(app.CheckForUpdate(), 1);
}

TEST_F(UpdateCheck, FailedDownloadsLeaveNothingBehind)
{
    app.m_values.settings.installerCtlFile = ServerUrl(L"404/ctl.ini");
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(temp / L"ctl.ini"));

    app.m_values.settings.installerCtlFile =  // nothing listens there
        L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/ctl.ini";
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(temp / L"ctl.ini"));

    Serve(Section("99"));  // a local path is never fetched, even when the file is there
    app.m_values.settings.installerCtlFile =
        ServerRoot() + L"\\" + localCopy.substr(temp.path().size() + 1);
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(localCopy));
}

// The control file is read from the fetched bytes: no copy is ever written into the temporary
// folder, where another program could rewrite it between the reads.
TEST_F(UpdateCheck, TheControlFileIsNeverWrittenToDisk)
{
    Serve(Section("99"));
    EXPECT_EQ(app.CheckForUpdate(), 1);
    EXPECT_EQ(app.m_values.offer.revision, 99);
    WIN32_FIND_DATAW entry;
    win::FindHandle anything(::FindFirstFileW((temp / L"*.ini").c_str(), &entry));
    EXPECT_FALSE(anything.valid()) << "a copy of the control file was written";
}

// Puts a stale copy of `url` into the system's internet cache, as an earlier visit would.
bool PlantCacheEntry(const std::wstring& url, const std::string& body)
{
    const auto create = win::WinInet().CreateUrlCacheEntryW;
    const auto commit = win::WinInet().CommitUrlCacheEntryW;
    wchar_t local[MAX_PATH] = {};
    if (!create || !commit || !create(url.c_str(), 0, L"ini", local, 0)) return false;
    if (!WriteBytes(local, body)) return false;
    SYSTEMTIME nextYear;
    ::GetSystemTime(&nextYear);
    nextYear.wYear = static_cast<WORD>(nextYear.wYear + 1);
    FILETIME expires, modified = {};
    ::SystemTimeToFileTime(&nextYear, &expires);
    return commit(url.c_str(), local, expires, modified, NORMAL_CACHE_ENTRY, nullptr, 0, nullptr,
                  nullptr) != FALSE;
}

// The cache entry's local copy, or empty when the cache holds none for `url`.
std::string CachedBody(const std::wstring& url)
{
    const auto info = win::WinInet().GetUrlCacheEntryInfoW;
    std::vector<char> buffer(8192);
    DWORD size = static_cast<DWORD>(buffer.size());
    auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    if (!info || !info(url.c_str(), entry, &size) || !entry->lpszLocalFileName)
        return std::string();
    return ReadBytes(entry->lpszLocalFileName);
}

// The control file as the server signs it: served once, fetched back.
std::string SignedByServer(const ScratchDir& dir, const std::string& body)
{
    const std::wstring name = L"signed-" + std::to_wstring(::GetCurrentProcessId()) + L".ini";
    EXPECT_TRUE(WriteBytes(ServerRoot() + L"\\" + name, body));
    const auto download = win::UrlMon().URLDownloadToFileW;
    const std::wstring local = dir / name;
    if (!download || download(nullptr, ServerUrl(name).c_str(), local.c_str(), 0, nullptr) < 0)
        return std::string();
    return ReadBytes(local);
}

// An offer is made only when its signature holds and it has not expired; whatever fails, the
// offer is dropped whole.
TEST_F(UpdateCheck, OnlyASignedCurrentOfferIsMade)
{
    ScratchDir fetched;
    const std::string body = Section("99");
    const std::string signedFile = SignedByServer(fetched, body);
    ASSERT_EQ(signedFile.compare(0, body.size(), body), 0);
    ASSERT_NE(signedFile.find("\r\n[Signature]\r\nPKCS7="), std::string::npos);
    std::string changed = signedFile;
    changed.replace(changed.find("Revision=99"), 11, "Revision=98");
    const struct {
        const char* what;
        std::string file;
        const wchar_t* extension;
        int expected;
    } cases[] = {
        {"signed", body, L".ini", 1},
        {"signed, fetched back and served as it is", signedFile, L".ini", 1},
        {"unsigned", body, L".txt", 0},
        {"a body byte changed", changed, L".txt", 0},
        {"bytes after the signature", signedFile + "[kv driver]\r\nRevision=100\r\n", L".txt", 0},
        {"a second signature section", signedFile + signedFile.substr(body.size()), L".txt", 0},
        {"expired", body + "[Morvane]\r\nExpires=2020-01-01T00:00:00Z\r\n", L".ini", 0},
        {"current", body + "[morvane]\r\nExpires=2999-01-01T00:00:00Z\r\n", L".ini", 1},
        {"Expires= not a time", body + "[Morvane]\r\nExpires=next year\r\n", L".ini", 0},
        {"Expires= empty", body + "[Morvane]\r\nExpires=\r\n", L".ini", 0},
    };
    for (const auto& c : cases) {
        app.m_values.offer = settings::Offer();
        Serve(c.file, c.extension);
        EXPECT_EQ(app.CheckForUpdate(), c.expected) << c.what;
        EXPECT_EQ(app.m_values.offer.revision, c.expected ? 99 : 0) << c.what;
    }
}

TEST_F(UpdateCheck, CachedCopyIsNeverUsed)
{
    Serve(Section("77"));
    ASSERT_TRUE(
        PlantCacheEntry(app.m_values.settings.installerCtlFile, Section("1") + "; stale\r\n"));
    ASSERT_NE(CachedBody(app.m_values.settings.installerCtlFile).find("stale"), std::string::npos);

    EXPECT_EQ(app.CheckForUpdate(), 1);
    EXPECT_EQ(app.m_values.offer.revision, 77);
    // The stale entry went before the download; whatever the cache holds now is the fresh copy.
    EXPECT_EQ(CachedBody(app.m_values.settings.installerCtlFile).find("stale"), std::string::npos);
}

}  // namespace
