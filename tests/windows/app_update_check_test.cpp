// The update check against the loopback fixture server (<build>/www, port in <build>/www.port).
#include "app/morvane_app.h"

#include <gtest/gtest.h>

#include "test_support.h"

using testing_support::Exists;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

namespace {

std::wstring BuildDir() { return testing_support::ExeDir() + L"\\.."; }

std::wstring ServerUrl(const std::wstring& name)
{
    std::string port = ReadBytes(BuildDir() + L"\\www.port");
    while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) port.pop_back();
    return L"http://127.0.0.1:" + std::wstring(port.begin(), port.end()) + L"/" + name;
}

class UpdateCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ReadBytes(BuildDir() + L"\\www.port").empty()) << "fixture server not running";
        app.m_strTempDir = temp.path();
        app.m_strDrvName = L"KV Driver";
        app.m_nInstallerRevision = 5;
    }
    // Serves a control file under a name of this test's own and points the app at it.
    void Serve(const std::string& body)
    {
        const std::wstring name =
            std::wstring(L"ctl-") +
            std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++served) + L".ini";
        ASSERT_TRUE(WriteBytes(BuildDir() + L"\\www\\" + name, body));
        app.m_strInstallerCtlFile = ServerUrl(name);
        localCopy = temp / name;
    }
    static std::string Section(const std::string& revision, const std::string& exePath = "KV\\KVWizard.exe",
                               const std::string& url = "http://127.0.0.1:1/pkg/KVUpdate.exe")
    {
        std::string s = "[Other]\r\nRevision=999\r\n[kv driver]\r\n";
        if (!url.empty()) s += "DownloadUrl=" + url + "\r\n";
        if (!exePath.empty()) s += "ExePath=" + exePath + "\r\n";
        if (!revision.empty()) s += "Revision=" + revision + "\r\n";
        return s;
    }

    ScratchDir temp;
    CMorvaneApp app;
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
        {5, "5", 0}, {5, "6", 1}, {5, "4", 0}, {5, "-1", 1}, {-1, "2147483647", 0},
        {-1, "-1", 0}, {0, "", 0}, {0, "1abc", 1},
    };
    for (const auto& c : cases) {
        app.m_nInstallerRevision = c.local;
        Serve(Section(c.remote));
        EXPECT_EQ(app.CheckForUpdate(), c.expected) << c.local << " vs " << c.remote;
        EXPECT_FALSE(Exists(localCopy));
    }
    EXPECT_EQ(app.m_strDownloadUrl, L"http://127.0.0.1:1/pkg/KVUpdate.exe");
    EXPECT_EQ(app.m_strPackagePath, temp / L"KVUpdate.exe");
    EXPECT_EQ(app.m_strExePath, L"KV\\KVWizard.exe");
    EXPECT_EQ(app.m_nRevision, 1);
}

TEST_F(UpdateCheck, MissingSectionOrKeysGiveNoUpdate)
{
    Serve("[Other]\r\nDownloadUrl=http://h/p.exe\r\nExePath=a\\b.exe\r\nRevision=99\r\n");
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(localCopy));

    app.m_strDrvName.clear();  // looks up a section with an empty name
    Serve(Section("99"));
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(localCopy));

    app.m_strDrvName = L"KV Driver";
    Serve(Section("99", ""));
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(localCopy));
    EXPECT_EQ(app.m_strDownloadUrl, L"http://127.0.0.1:1/pkg/KVUpdate.exe");
    EXPECT_EQ(app.m_strPackagePath, temp / L"KVUpdate.exe");
}

TEST_F(UpdateCheck, PackageNameMustBeAPlainFileInTheTempFolder)
{
    const char* urls[] = {"http://h/pkg/",     "http://h/pkg/.",        "http://h/pkg/..",
                          "http://h/p.exe?x=1", "http://h/a:b.exe",      "http://h/NUL.exe"};
    for (const char* url : urls) {
        CMorvaneApp fresh;
        fresh.m_strTempDir = temp.path();
        fresh.m_strDrvName = L"KV Driver";
        app.m_strDrvName = L"KV Driver";
        Serve(Section("99", "KV\\KVWizard.exe", url));
        fresh.m_strInstallerCtlFile = app.m_strInstallerCtlFile;
        EXPECT_EQ(fresh.CheckForUpdate(), 0) << url;
        EXPECT_EQ(fresh.m_strPackagePath, L"") << url;
        EXPECT_FALSE(Exists(localCopy)) << url;
    }
}

TEST_F(UpdateCheck, FailedDownloadsLeaveNothingBehind)
{
    app.m_strInstallerCtlFile = ServerUrl(L"404/ctl.ini");
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(temp / L"ctl.ini"));

    app.m_strInstallerCtlFile = L"http://127.0.0.1:1/ctl.ini";  // nothing listens there
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(temp / L"ctl.ini"));

    Serve(Section("99"));  // a local path is never fetched, even when the file is there
    app.m_strInstallerCtlFile = BuildDir() + L"\\www\\" + localCopy.substr(temp.path().size() + 1);
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_FALSE(Exists(localCopy));

    app.m_strTempDir = temp / L"missing";  // the copy's folder must exist
    Serve(Section("99"));
    EXPECT_EQ(app.CheckForUpdate(), 0);
    EXPECT_EQ(app.m_strDownloadUrl, L"");
}

TEST_F(UpdateCheck, CachedCopyIsNeverUsed)
{
    Serve(Section("1"));
    const std::wstring url = app.m_strInstallerCtlFile;
    // Fill the system's cache with the first version (the server marks it cacheable for a day).
    ASSERT_EQ(DownloadToFile(url, temp / L"first.ini"), 1);
    const std::wstring served_path = BuildDir() + L"\\www\\" + url.substr(url.find_last_of(L'/') + 1);
    ASSERT_TRUE(WriteBytes(served_path, Section("77")));
    EXPECT_EQ(app.CheckForUpdate(), 1);
    EXPECT_EQ(app.m_nRevision, 77);
}

}  // namespace
