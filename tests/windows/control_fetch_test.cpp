// The control file's fetch against the loopback fixture server, hostile modes included.
#include "sys/control_fetch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixture_server.h"
#include "net_fixtures.h"
#include "test_support.h"

using namespace testing_support;

namespace {

const unsigned long kShortDeadlineMs = 2000;

std::string ControlText(size_t size)
{
    std::string text = "[KV]\r\nRevision=7\r\n";
    while (text.size() < size) text += ';';
    text.resize(size);
    return text;
}

class ControlFetch : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GT(ServerPort(), 0) << "fixture server not running"; }

    // Runs the fetch with a fresh deadline into `got`; records how long it took. `got` holds
    // something before, so a fetch that fails must be seen to empty it.
    bool Fetch(const std::wstring& url, unsigned long deadlineMs = 10000)
    {
        std::vector<char> body(5, 'x');
        const DWORD start = ::GetTickCount();
        const bool result = sys::FetchControlFile(url, win::Deadline(deadlineMs), &body);
        tookMs = ::GetTickCount() - start;
        got.assign(body.begin(), body.end());
        return result;
    }

    std::string got;
    DWORD tookMs = 0;
};

// Named .txt: the fixture server signs what it serves as .ini, and these compare the bytes.
TEST_F(ControlFetch, WholeBodyUpTo64KiBArrivesAsIs)
{
    const std::string exact = ControlText(64 * 1024);
    const std::wstring name = ServeBytes(L"exact.txt", exact);
    EXPECT_TRUE(Fetch(ServerUrl(name)));
    EXPECT_EQ(got, exact);

    // Redirects to web URLs are followed.
    const std::wstring small = ServeBytes(L"small.txt", ControlText(40));
    EXPECT_TRUE(Fetch(ServerUrl(L"redirect/" + small)));
    EXPECT_EQ(got, ControlText(40));
}

// Each of these ends with 0 and no body, well before any deadline.
TEST_F(ControlFetch, HostileAnswersFailFastAndLeaveNothing)
{
    const std::wstring body = ServeBytes(L"body.txt", ControlText(5000));
    const std::wstring big = ServeBytes(L"big.txt", ControlText(64 * 1024 + 1));
    const std::wstring cases[] = {
        ServerUrl(big),                // one byte over the limit
        ServerUrl(L"cut/" + body),     // half the body, then the end
        ServerUrl(L"badlen/" + body),  // Content-Length one more than the body
        ServerUrl(L"endless/x.ini"),   // no length, no end
        ServerUrl(L"loop/x.ini"),      // redirects to itself
        ServerUrl(L"tofile/" + body),  // redirects to a file: URL of the same file
        ServerUrl(L"404/x.ini"),
        L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/x.ini",
    };
    for (const auto& url : cases) {
        EXPECT_FALSE(Fetch(url)) << url;
        EXPECT_LT(tookMs, 8000u) << url;
        EXPECT_EQ(got, "") << url;  // no partial body is handed on
    }
}

TEST_F(ControlFetch, RedirectLoopStopsAfterAFewHops)
{
    const std::string before = ReadBytes(ServerLogPath());
    EXPECT_FALSE(Fetch(ServerUrl(L"loop/count.ini")));
    const std::string log = ReadBytes(ServerLogPath()).substr(before.size());
    size_t hops = 0;
    for (size_t at = log.find("GET /loop/count.ini"); at != std::string::npos;
         at = log.find("GET /loop/count.ini", at + 1))
        ++hops;
    EXPECT_GE(hops, 2u);
    EXPECT_LE(hops, 6u);
}

// A server that accepts and then says nothing, or drips a byte a second, is left behind at the
// deadline; the stuck fetch owns its copies, so the caller's frame can go.
TEST_F(ControlFetch, SilentOrDrippingServerEndsAtTheDeadline)
{
    const std::wstring body = ServeBytes(L"drip.ini", ControlText(600));
    const std::wstring cases[] = {ServerUrl(L"silent/x.ini"), ServerUrl(L"drip/" + body),
                                  ServerUrl(L"stall/" + body)};
    for (const auto& url : cases) {
        EXPECT_FALSE(Fetch(url, kShortDeadlineMs)) << url;
        EXPECT_GE(tookMs + 50, kShortDeadlineMs) << url;
        EXPECT_LT(tookMs, kShortDeadlineMs + kSlackMs) << url;
        EXPECT_EQ(got, "") << url;
    }
}

TEST_F(ControlFetch, PassedDeadlineAsksNothing)
{
    const std::wstring name = ServeBytes(L"late.ini", ControlText(40));
    EXPECT_FALSE(Fetch(ServerUrl(name), 0));
    EXPECT_EQ(got, "");
    EXPECT_EQ(ReadBytes(ServerLogPath()).find("late.ini"), std::string::npos);
}

// Over https the control file needs what the package download's tests set up: the https
// servers and the test root trusted.
using SecureControlFetch = PackageFetch;

TEST_F(SecureControlFetch, ControlFileOverHttpsAndItsRefusals)
{
    const std::wstring name = ServeBytes(L"https.txt", ControlText(300));
    std::vector<char> body;
    EXPECT_TRUE(sys::FetchControlFile(HttpsUrl("https", name), win::Deadline(10000), &body));
    EXPECT_EQ(std::string(body.begin(), body.end()), ControlText(300));
    const std::wstring refused[] = {
        HttpsUrl("expired", name), HttpsUrl("othername", name), HttpsUrl("unknown", name),
        HttpsUrl("https", L"tohttp/" + std::to_wstring(ServerPort()) + L"/" + name)};
    for (const auto& url : refused) {
        EXPECT_FALSE(sys::FetchControlFile(url, win::Deadline(10000), &body)) << url;
        EXPECT_TRUE(body.empty()) << url;
    }
}

}  // namespace
