#include "sys/runner_rules.h"

#include <gtest/gtest.h>

namespace {

using runner::Action;

TEST(RunnerRules, LoopEndsOnlyThroughAWait)
{
    EXPECT_EQ(runner::AfterFirstWait(false), Action::Finish);
    EXPECT_EQ(runner::AfterFirstWait(true), Action::SearchWindow);
    EXPECT_EQ(runner::AfterSearch(false), Action::WaitWithoutLimit);
    EXPECT_EQ(runner::AfterSearch(true), Action::Poll);
    EXPECT_EQ(runner::AfterPoll(false), Action::Finish);
    EXPECT_EQ(runner::AfterPoll(true), Action::Ping);
    EXPECT_EQ(runner::AfterPing(true), Action::Poll);
    // Termination goes back to polling; the loop never ends on a ping.
    EXPECT_EQ(runner::AfterPing(false), Action::TerminateAndPoll);
}

TEST(RunnerRules, CommandLineMustFitTheBufferWhole)
{
    EXPECT_EQ(runner::CanCopyCommandLine(std::wstring(259, L'a')), 1);
    EXPECT_EQ(runner::CanCopyCommandLine(std::wstring(260, L'a')), 0);
    EXPECT_EQ(runner::CanCopyCommandLine(std::wstring(1000, L'a')), 0);
    EXPECT_EQ(runner::CanCopyCommandLine(L""), 1);
    EXPECT_EQ(runner::CanCopyCommandLine(std::wstring(L"a.exe\0evil", 10)), 0);
}

}  // namespace
