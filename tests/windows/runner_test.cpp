#include "sys/runner.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using testing_support::Exists;
using testing_support::FixturePath;
using testing_support::ReadBytes;
using testing_support::ScratchDir;

namespace {

struct HelperRun {
    int result;
    bool terminated;
    DWORD milliseconds;
    std::string marker;  // what the helper recorded
};

HelperRun RunHelper(const ScratchDir& dir, const std::wstring& arguments, bool hidden = true)
{
    const std::wstring marker = dir / L"marker.txt";
    const std::wstring command =
        L"\"" + FixturePath(L"runner_helper.exe") + L"\" \"" + marker + L"\" " + arguments;
    const DWORD start = ::GetTickCount();
    bool terminated = true;
    const int result = sys::RunProcessAndWait(command, hidden, &terminated);
    const DWORD spent = ::GetTickCount() - start;
    return {result, terminated, spent, ReadBytes(marker)};
}

// Time limits below are generous bounds that still tell "waited for the end" from "ended it".
TEST(RunProcessAndWait, WaitsForProgramsThatEndByThemselves)
{
    struct {
        const wchar_t* arguments;
        DWORD atLeastMs;
    } cases[] = {
        {L"quick", 0},            // ends within the first wait
        {L"sleep 3500", 3500},    // no window: waited for without limit
        {L"window 4000", 4000},   // answers every ping, ends by itself
        // Its first window goes after 3 s (a splash); it runs on with another: no hang.
        {L"switch 6000", 9500},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const HelperRun run = RunHelper(dir, c.arguments);
        EXPECT_EQ(run.result, 1) << c.arguments;
        EXPECT_FALSE(run.terminated) << c.arguments;
        EXPECT_EQ(run.marker, "started show=0 finished") << c.arguments;
        EXPECT_GE(run.milliseconds + 100, c.atLeastMs) << c.arguments;
        EXPECT_LT(run.milliseconds, c.atLeastMs + 30000) << c.arguments;
    }
}

TEST(RunProcessAndWait, TerminatesAProgramWhoseWatchedWindowStopsAnswering)
{
    struct {
        const wchar_t* arguments;
        const char* why;
    } cases[] = {
        {L"hang", "its window thread sleeps for 60 s"},
        {L"switch-hang", "its first window went; the second one stops answering"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const HelperRun run = RunHelper(dir, c.arguments);
        EXPECT_EQ(run.result, 1) << c.why;
        EXPECT_TRUE(run.terminated) << c.why;
        // Started, never finished: ended by the runner well before its own end.
        EXPECT_EQ(run.marker, "started show=0") << c.why;
        EXPECT_LT(run.milliseconds, 40000u) << c.why;
    }
}

TEST(RunProcessAndWait, PassesTheShowState)
{
    ScratchDir dir;
    EXPECT_EQ(RunHelper(dir, L"quick", false).marker, "started show=10 finished");
}

TEST(RunProcessAndWait, ReturnsZeroWhenNothingCanStart)
{
    ScratchDir dir;
    const std::wstring marker = dir / L"marker.txt";
    const std::wstring helper = L"\"" + FixturePath(L"runner_helper.exe") + L"\" \"" + marker +
                                L"\" quick ";
    std::wstring tooLong = helper + std::wstring(260 - helper.size(), L'x');
    ASSERT_EQ(tooLong.size(), 260u);
    std::wstring fits = helper + std::wstring(259 - helper.size(), L'x');

    EXPECT_EQ(sys::RunProcessAndWait(dir / L"no-such-program.exe", true), 0);
    EXPECT_EQ(sys::RunProcessAndWait(L"\"" + (dir / L"missing dir\\a.exe") + L"\"", false), 0);
    EXPECT_EQ(sys::RunProcessAndWait(L"", true), 0);
    EXPECT_EQ(sys::RunProcessAndWait(tooLong, true), 0);
    EXPECT_FALSE(Exists(marker)) << "a command line of 260 characters started something";
    EXPECT_EQ(sys::RunProcessAndWait(fits, true), 1);  // 259 characters still run
    EXPECT_TRUE(Exists(marker));
}

}  // namespace
