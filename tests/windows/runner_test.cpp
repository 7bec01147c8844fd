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
        {L"quick", 0},           // ends within the first wait
        {L"sleep 3500", 3500},   // no window: waited for without limit
        {L"window 4000", 4000},  // answers every ping, ends by itself
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
    const std::wstring helper =
        L"\"" + FixturePath(L"runner_helper.exe") + L"\" \"" + marker + L"\" quick ";
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

// The new wizard is the user's installation: however long its window does not answer (a
// modal wait inside a custom action), it is never ended as hung.
TEST(WaitForProcess, NeverEndsAProgramAsHungWhenToldNot)
{
    ScratchDir dir;
    const std::wstring marker = dir / L"marker.txt";
    // Its window stops answering for 13 s: longer than the 10 s a ping may take.
    const sys::StartedProcess started = sys::StartProcess(
        L"\"" + FixturePath(L"runner_helper.exe") + L"\" \"" + marker + L"\" hang 13000", false);
    ASSERT_TRUE(started);
    EXPECT_EQ(sys::WaitForProcess(started, sys::HangPolicy::Never), sys::ProcessEnd::Ended);
    EXPECT_EQ(ReadBytes(marker), "started show=10 finished");
}

// A copy of the stub wizard with an invalid version.dll beside it: Wine's user32 imports
// version.dll from the program's folder first, and the loader stops the program with
// 0xC000012F before its first line. It never ran, so the caller may start the local wizard.
TEST(WaitForProcess, ReportsAProgramThatDiesWhileLoadingAsNotLoaded)
{
    const std::wstring stub = FixturePath(L"stubwizard\\KVWizard.exe");
    ::SetEnvironmentVariableW(L"MORVANE_MARKER", nullptr);       // the stub's marker: beside it
    ::SetEnvironmentVariableW(L"MORVANE_WIZARD_MODE", nullptr);  // and it ends at once
    struct {
        bool plantBadLibrary;
        sys::HangPolicy policy;
        sys::ProcessEnd expected;
    } cases[] = {
        {true, sys::HangPolicy::Never, sys::ProcessEnd::NotLoaded},
        {true, sys::HangPolicy::EndWhenHung, sys::ProcessEnd::NotLoaded},
        {false, sys::HangPolicy::Never, sys::ProcessEnd::Ended},  // ends at once, having run
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::wstring wizard = dir / L"KVWizard.exe";
        ASSERT_TRUE(::CopyFileW(stub.c_str(), wizard.c_str(), FALSE));
        if (c.plantBadLibrary) {
            ASSERT_TRUE(testing_support::WriteBytes(dir / L"version.dll", "MZ not a library"));
        }
        const sys::StartedProcess started = sys::StartProcess(L"\"" + wizard + L"\"", false);
        ASSERT_TRUE(started);
        EXPECT_EQ(sys::WaitForProcess(started, c.policy), c.expected) << c.plantBadLibrary;
        // The stub records every start in a marker beside it: only one that ran wrote it.
        EXPECT_EQ(Exists(dir / L"wizard-started.txt"), !c.plantBadLibrary);
    }
}

}  // namespace
