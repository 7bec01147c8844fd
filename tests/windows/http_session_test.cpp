// The package download and the control-file fetch through the system's proxy. A program of
// its own: Wine's WinINet reuses a pooled connection to a server it reached directly even after
// the proxy settings have changed, and a tunnel the forwarding proxy made even when the proxy
// is another: no direct fetch may come before these in the process, and the refusing proxy
// comes first (it leaves no connection behind).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixture_server.h"
#include "net_fixtures.h"

using namespace testing_support;

namespace {

// The session's proxy handling, met through the calls that use it, set up as the package
// download's tests are.
using HttpSession = PackageFetch;

TEST_F(HttpSession, ProxyAskingForCredentialsIsRefusedWithoutAPrompt)
{
    const std::wstring name = ServeBytes(L"proxied.bin", PackageBytes(10000, 10));
    SystemProxy proxy(NetPort("refusing"));
    for (const std::wstring& url : {ServerUrl(name), HttpsUrl("https", name)}) {
        sys::PackageDownload download(url, folder.get(), packageName);
        EXPECT_EQ(Run(download), sys::NetFault::ProxyAuth) << url;
        EXPECT_FALSE(Exists(file)) << url;
        std::vector<char> body;
        EXPECT_FALSE(sys::FetchControlFile(url, win::Deadline(10000), &body)) << url;
    }  // The support server counts as unreachable: no update is offered.
    EXPECT_FALSE(sys::IsServerReachable(ServerUrl(L"").c_str(), win::Deadline(10000)));
}

TEST_F(HttpSession, ForwardingProxyCarriesHttpAndHttps)
{
    const std::string body = PackageBytes(700000, 9);
    const std::wstring name = ServeBytes(L"https.bin", body);
    const std::string before = NetLog();
    SystemProxy proxy(NetPort("proxy"));
    for (const std::wstring& url : {ServerUrl(name), HttpsUrl("https", name)}) {
        // A download never writes over a file that is there: the first one's goes first.
        ::DeleteFileW(file.c_str());
        sys::PackageDownload download(url, folder.get(), packageName);
        ASSERT_EQ(Run(download), sys::NetFault::None) << url;
        EXPECT_EQ(ReadBytes(file), body);
        EXPECT_EQ(seen.back(), Progress(body.size(), body.size()));
    }
    EXPECT_TRUE(sys::IsServerReachable(ServerUrl(L"").c_str(), win::Deadline(10000)));
    const std::wstring control = ServeBytes(L"proxied.ini", "[KV]\r\nRevision=7\r\n");
    std::vector<char> controlBody;
    EXPECT_TRUE(
        sys::FetchControlFile(HttpsUrl("https", control), win::Deadline(10000), &controlBody));
    const std::string log = Since(before, NetLog());
    const std::wstring plain = ServerUrl(name);
    EXPECT_NE(log.find("PROXY GET " + std::string(plain.begin(), plain.end())), std::string::npos)
        << log;
    EXPECT_NE(log.find("PROXY CONNECT localhost:" + std::to_string(NetPort("https"))),
              std::string::npos)
        << log;
    // The probe asked through the proxy too.
    EXPECT_NE(log.find("PROXY GET http://127.0.0.1:" + std::to_string(ServerPort()) + "/\n"),
              std::string::npos)
        << log;
}

}  // namespace
