#include "sys/server_probe.h"

#include <gtest/gtest.h>

#include <string>

#include "fixture_server.h"

using namespace testing_support;

namespace {

TEST(ServerProbe, AnswersForAListeningServerAndNotForAClosedPort)
{
    ASSERT_GT(ServerPort(), 0) << "fixture server not running";
    EXPECT_TRUE(sys::IsServerReachable(ServerUrl(L"").c_str(), win::Deadline(10000)));
    const std::wstring closed = L"http://127.0.0.1:" + std::to_wstring(ClosedPort());
    EXPECT_FALSE(sys::IsServerReachable(closed.c_str(), win::Deadline(10000)));
    // No time left: no answer, whatever the server would say.
    EXPECT_FALSE(sys::IsServerReachable(ServerUrl(L"").c_str(), win::Deadline(0)));
}

}  // namespace
