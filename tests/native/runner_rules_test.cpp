#include "sys/runner_rules.h"

#include <gtest/gtest.h>

namespace {

using sys::Action;

TEST(RunnerRules, LoopEndsOnlyThroughAWait)
{
    EXPECT_EQ(sys::AfterFirstWait(false), Action::Finish);
    EXPECT_EQ(sys::AfterFirstWait(true), Action::SearchWindow);
    EXPECT_EQ(sys::AfterSearch(false), Action::WaitWithoutLimit);
    EXPECT_EQ(sys::AfterSearch(true), Action::Poll);
    EXPECT_EQ(sys::AfterPoll(false), Action::Finish);
    EXPECT_EQ(sys::AfterPoll(true), Action::Ping);
    EXPECT_EQ(sys::AfterPing(sys::Ping::Answered), Action::Poll);
    // Termination goes back to polling; the loop never ends on a ping.
    EXPECT_EQ(sys::AfterPing(sys::Ping::Hung), Action::TerminateAndPoll);
    // A window that went is not a hang: look again, and watch the next one or wait.
    EXPECT_EQ(sys::AfterPing(sys::Ping::Gone), Action::SearchWindow);
}

TEST(RunnerRules, CommandLineMustFitTheBufferWhole)
{
    EXPECT_TRUE(sys::CanCopyCommandLine(std::wstring(259, L'a')));
    EXPECT_FALSE(sys::CanCopyCommandLine(std::wstring(260, L'a')));
    EXPECT_FALSE(sys::CanCopyCommandLine(std::wstring(1000, L'a')));
    EXPECT_TRUE(sys::CanCopyCommandLine(L""));
    EXPECT_FALSE(sys::CanCopyCommandLine(std::wstring(L"a.exe\0evil", 10)));
}

// The trail names the program and never its arguments.
TEST(RunnerRules, ProgramOfLeavesTheArgumentsOut)
{
    EXPECT_EQ(sys::ProgramOf(L"\"C:\\a b\\w.exe\" /PATH=\"C:\\x\""), L"C:\\a b\\w.exe");
    EXPECT_EQ(sys::ProgramOf(L"C:\\w.exe /secret"), L"C:\\w.exe");
    EXPECT_EQ(sys::ProgramOf(L"\"C:\\unclosed"), L"C:\\unclosed");
    EXPECT_EQ(sys::ProgramOf(L""), L"");
}

}  // namespace

TEST(RunnerRules, OnlyLoaderFailuresMeanTheProgramNeverRan)
{
    // The loader's own statuses: a missing, invalid or failing library, a missing import.
    // Software restriction policies refuse the image before it runs too.
    for (std::uint32_t status :
         {0xC0000135u, 0xC000007Bu, 0xC000012Fu, 0xC0000130u, 0xC0000131u, 0xC0000139u, 0xC0000142u,
          0xC0000138u, 0xC0000428u, 0xC0000361u, 0xC0000362u, 0xC0000363u, 0xC0000364u})
        EXPECT_TRUE(sys::IsLoaderFailure(status)) << std::hex << status;
    // What programs end with after they ran: success, errors, crashes, termination.
    for (std::uint32_t status :
         {0u, 1u, 2u, 0xC0000005u, 0xC0000409u, 0xC000013Au, 0x40010004u, 0xC0000136u, 0xFFFFFFFFu})
        EXPECT_FALSE(sys::IsLoaderFailure(status)) << std::hex << status;
}

// The package's TEMP and TMP are the work folder, whatever case the names have in ours; nothing
// else of the environment changes, and the block stays a block.
TEST(RunnerRules, TemporaryFolderReplacesTempAndTmpOnly)
{
    using namespace std::string_literals;
    const struct {
        std::wstring block;
        std::wstring want;
    } cases[] = {
        {L"A=1\0TEMP=C:\\T\0tmp=C:\\T\0Z=2\0\0"s, L"A=1\0TEMP=W\0TMP=W\0Z=2\0\0"s},
        {L"=C:=C:\\\0Path=x\0\0"s, L"=C:=C:\\\0Path=x\0TEMP=W\0TMP=W\0\0"s},
        {L"TEMPDIR=a\0TMPX=b\0\0"s, L"TEMPDIR=a\0TMPX=b\0TEMP=W\0TMP=W\0\0"s},
        {L"Temp=a\0\0"s, L"TEMP=W\0TMP=W\0\0"s},
        {L""s, L"TEMP=W\0TMP=W\0\0"s},
        {L"A=1"s, L"A=1\0TEMP=W\0TMP=W\0\0"s},  // a block cut short is read to its end
    };
    for (const auto& c : cases) EXPECT_EQ(sys::WithTemporaryFolder(c.block, L"W"), c.want);
}
