// The network primitives against the loopback fixture server, hostile modes included.
#include "sys/download.h"

#include <gtest/gtest.h>

#include <string>

#include "fixture_server.h"
#include "test_support.h"

using namespace testing_support;

namespace {

const unsigned long kShortDeadlineMs = 2000;
// How long past its deadline a call may take to return: thread start and clean-up under a
// loaded Wine, not a second fetch.
const DWORD kSlackMs = 3000;

// Serves `body` under a name of this program's own; the URL of `mode`/name ("" for the file).
std::wstring Serve(const std::wstring& name, const std::string& body)
{
    const std::wstring unique = L"download-test-" + name;
    EXPECT_TRUE(WriteBytes(ServerRoot() + L"\\" + unique, body));
    return unique;
}

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

    // Runs the fetch with a fresh deadline; records how long it took.
    int Fetch(const std::wstring& url, unsigned long deadlineMs = 10000)
    {
        const DWORD start = ::GetTickCount();
        const int result = sys::DownloadToFile(url, copy, sys::Deadline(deadlineMs));
        tookMs = ::GetTickCount() - start;
        return result;
    }

    ScratchDir temp;
    std::wstring copy = temp / L"ctl.ini";
    DWORD tookMs = 0;
};

TEST_F(ControlFetch, WholeBodyUpTo64KiBArrivesAsIs)
{
    const std::string exact = ControlText(64 * 1024);
    const std::wstring name = Serve(L"exact.ini", exact);
    EXPECT_EQ(Fetch(ServerUrl(name)), 1);
    EXPECT_EQ(ReadBytes(copy), exact);

    // Redirects to web URLs are followed; the copy is replaced, not appended to.
    const std::wstring small = Serve(L"small.ini", ControlText(40));
    EXPECT_EQ(Fetch(ServerUrl(L"redirect/" + small)), 1);
    EXPECT_EQ(ReadBytes(copy), ControlText(40));
}

// Each of these ends with 0 and nothing at the local path, well before any deadline.
TEST_F(ControlFetch, HostileAnswersFailFastAndLeaveNothing)
{
    const std::wstring body = Serve(L"body.ini", ControlText(5000));
    const std::wstring big = Serve(L"big.ini", ControlText(64 * 1024 + 1));
    const std::wstring cases[] = {
        ServerUrl(big),                           // one byte over the limit
        ServerUrl(L"cut/" + body),                // half the body, then the end
        ServerUrl(L"badlen/" + body),             // Content-Length one more than the body
        ServerUrl(L"endless/x.ini"),              // no length, no end
        ServerUrl(L"loop/x.ini"),                 // redirects to itself
        ServerUrl(L"tofile/" + body),             // redirects to a file: URL of the same file
        ServerUrl(L"404/x.ini"),
        L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/x.ini",
    };
    for (const auto& url : cases) {
        ASSERT_TRUE(WriteBytes(copy, "stale"));
        EXPECT_EQ(Fetch(url), 0) << url;
        EXPECT_LT(tookMs, 8000u) << url;
        // A stale copy from before is replaced only by a whole body; no partial one is left.
        EXPECT_NE(ReadBytes(copy), ControlText(5000)) << url;
    }
}

TEST_F(ControlFetch, RedirectLoopStopsAfterAFewHops)
{
    const std::string before = ReadBytes(ServerLogPath());
    EXPECT_EQ(Fetch(ServerUrl(L"loop/count.ini")), 0);
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
    const std::wstring body = Serve(L"drip.ini", ControlText(600));
    const std::wstring cases[] = {ServerUrl(L"silent/x.ini"), ServerUrl(L"drip/" + body),
                                  ServerUrl(L"stall/" + body)};
    for (const auto& url : cases) {
        EXPECT_EQ(Fetch(url, kShortDeadlineMs), 0) << url;
        EXPECT_GE(tookMs + 50, kShortDeadlineMs) << url;
        EXPECT_LT(tookMs, kShortDeadlineMs + kSlackMs) << url;
        EXPECT_FALSE(Exists(copy)) << url;
    }
}

TEST_F(ControlFetch, PassedDeadlineAsksNothing)
{
    const std::wstring name = Serve(L"late.ini", ControlText(40));
    EXPECT_EQ(Fetch(ServerUrl(name), 0), 0);
    EXPECT_FALSE(Exists(copy));
    EXPECT_EQ(ReadBytes(ServerLogPath()).find("late.ini"), std::string::npos);
}

TEST(ServerProbe, AnswersForAListeningServerAndNotForAClosedPort)
{
    ASSERT_GT(ServerPort(), 0) << "fixture server not running";
    EXPECT_EQ(sys::IsServerReachable(ServerUrl(L"").c_str(), sys::Deadline(10000)), 1);
    const std::wstring closed = L"http://127.0.0.1:" + std::to_wstring(ClosedPort());
    EXPECT_EQ(sys::IsServerReachable(closed.c_str(), sys::Deadline(10000)), 0);
    // No time left: no answer, whatever the server would say.
    EXPECT_EQ(sys::IsServerReachable(ServerUrl(L"").c_str(), sys::Deadline(0)), 0);
}

}  // namespace
