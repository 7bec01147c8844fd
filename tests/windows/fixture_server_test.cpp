// The fixture server as the Windows-tier tests see it: reachable from Wine, serving files written
// through the Z: path, failing on purpose by path prefix, logging each request.
#include "fixture_server.h"

#include <gtest/gtest.h>

#include "win/syslib.h"

using namespace testing_support;

namespace {

HRESULT Download(const std::wstring& url, const std::wstring& path)
{
    const auto download = win::UrlMon().URLDownloadToFileW;
    if (!download) return E_FAIL;
    return download(nullptr, url.c_str(), path.c_str(), 0, nullptr);
}

}  // namespace

TEST(FixtureServer, ServesFilesWrittenIntoItsRootAndLogsEachRequest)
{
    ASSERT_GT(ServerPort(), 0) << "no port in <build>\\www.port: the server did not start";
    ASSERT_TRUE(WriteBytes(ServerRoot() + L"\\fixture-server-test.txt", "[A]\r\nKey=served\r\n"));
    ScratchDir scratch;
    ASSERT_GE(Download(ServerUrl(L"fixture-server-test.txt"), scratch / L"got.ini"), 0);
    EXPECT_EQ(ReadBytes(scratch / L"got.ini"), "[A]\r\nKey=served\r\n");
    EXPECT_NE(ReadBytes(ServerLogPath()).find("GET /fixture-server-test.txt"), std::string::npos);
}

TEST(FixtureServer, FailsOnPurposeByPath)
{
    ASSERT_TRUE(WriteBytes(ServerRoot() + L"\\fixture-server-cut.bin", std::string(4096, 'x')));
    ScratchDir scratch;
    // Wine's URLDownloadToFileW reports success for a 404 and writes the error page.
    HRESULT missing = Download(ServerUrl(L"404/fixture-server-cut.bin"), scratch / L"a.bin");
    EXPECT_TRUE(missing < 0 || ReadBytes(scratch / L"a.bin") == "not found\n") << missing;
    missing = Download(ServerUrl(L"no-such-file.bin"), scratch / L"b.bin");
    EXPECT_TRUE(missing < 0 || ReadBytes(scratch / L"b.bin") == "not found\n") << missing;
    std::wstring refused = L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/x.bin";
    EXPECT_LT(Download(refused, scratch / L"c.bin"), 0);
    // A body cut short must never arrive whole.
    HRESULT cut = Download(ServerUrl(L"cut/fixture-server-cut.bin"), scratch / L"d.bin");
    EXPECT_TRUE(cut < 0 || ReadBytes(scratch / L"d.bin").size() < 4096);
}
