#include "sys/runner.h"

#include <gtest/gtest.h>

#include <string>

#include "sys/trust.h"
#include "test_support.h"
#include "win/handles.h"

using namespace testing_support;

namespace {

// The judged starts below check signed programs first.
const auto* const g_root = ::testing::AddGlobalTestEnvironment(new TestRootEnvironment);

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

bool SameFile(const std::wstring& a, const std::wstring& b)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    win::File fa(
        ::CreateFileW(a.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, 0, nullptr));
    win::File fb(
        ::CreateFileW(b.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return fa && fb && ::GetFileInformationByHandle(fa.get(), &ia) &&
           ::GetFileInformationByHandle(fb.get(), &ib) && ia.nFileIndexLow == ib.nFileIndexLow &&
           ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber;
}

// Points the link `link` at `target` (made or re-pointed with a Unix symlink: Wine's
// CreateSymbolicLinkW only reports success) and waits until `probe`, a path through the link,
// is `expected`. Wine may signal a Unix child's end before it ran, so the result is watched.
bool PointLink(const std::wstring& link, const std::wstring& target, const std::wstring& probe,
               const std::wstring& expected)
{
    const std::string unixLink = UnixName(link), unixTarget = UnixName(target);
    if (unixLink.empty() || unixTarget.empty()) return false;
    if (!StartUnix("/bin/ln -sfnT \"" + unixTarget + "\" \"" + unixLink + "\"")) return false;
    for (int waited = 0; waited < 30000; waited += 10) {
        if (SameFile(probe, expected)) return true;
        ::Sleep(10);
    }
    return false;
}

// What each attack does between the check and the start. The judged file is a signed
// program; the file put in its place is runner_helper, unsigned, which records its start.
enum class Swap { None, RepointFileLink, RepointFolderLink, RenameFolder, SecondName };

struct JudgedRun {
    bool judged = false;
    bool swapped = false;  // the attack went through
    bool started = false;
    bool helperRan = false;
};

const sys::JudgedStart kHidden{true, L"", L""};

JudgedRun JudgeSwapAndStart(const ScratchDir& dir, Swap swap)
{
    JudgedRun run;
    const std::wstring good = dir / L"good", evil = dir / L"evil", pkg = dir / L"pkg";
    ::CreateDirectoryW(good.c_str(), nullptr);
    ::CreateDirectoryW(evil.c_str(), nullptr);
    CopyAs(dir, PkiPath(L"signed-dekavroline.exe"), L"good\\KVWizard.exe");
    CopyAs(dir, FixturePath(L"runner_helper.exe"), L"evil\\KVWizard.exe");
    // The judged path: a file link, a wizard in a linked folder, or a plain file in a folder.
    std::wstring path = pkg + L"\\KVWizard.exe";
    if (swap == Swap::RepointFileLink) {
        path = dir / L"KVSetup.exe";
        if (!PointLink(path, good + L"\\KVWizard.exe", path, good + L"\\KVWizard.exe")) return run;
    } else if (swap == Swap::RepointFolderLink) {
        if (!PointLink(pkg, good, path, good + L"\\KVWizard.exe")) return run;
    } else {
        ::CreateDirectoryW(pkg.c_str(), nullptr);
        CopyAs(dir, PkiPath(L"signed-dekavroline.exe"), L"pkg\\KVWizard.exe");
    }

    win::File lock;
    run.judged = sys::VerifyPackage(path, &lock) == 1;
    if (!run.judged) return run;

    switch (swap) {
    case Swap::None: break;
    case Swap::RepointFileLink:
        run.swapped = PointLink(path, evil + L"\\KVWizard.exe", path, evil + L"\\KVWizard.exe");
        break;
    case Swap::RepointFolderLink:
        run.swapped = PointLink(pkg, evil, path, evil + L"\\KVWizard.exe");
        break;
    case Swap::RenameFolder:
        // Windows refuses to rename a folder holding an open file; Wine allows it.
        run.swapped = ::MoveFileW(pkg.c_str(), (dir / L"pkg.judged").c_str()) &&
                      ::MoveFileW(evil.c_str(), pkg.c_str());
        break;
    case Swap::SecondName:
        // A hard link may be added to a file held open without write sharing.
        run.swapped = ::CreateHardLinkW((dir / L"second.exe").c_str(), path.c_str(), nullptr);
        break;
    }
    const std::wstring marker = dir / L"marker.txt";
    const sys::StartedProcess started = sys::StartJudgedProcess(
        L"\"" + path + L"\" \"" + marker + L"\" quick", lock.get(), kHidden);
    run.started = static_cast<bool>(started);
    if (started) ::WaitForSingleObject(started.process.get(), 30000);
    ::Sleep(500);  // a process resumed by mistake would have written by now
    run.helperRan = Exists(marker);
    return run;
}

// Each attack re-points or swaps what the judged path names after the check, which a start by
// path would follow. The start runs only the judged image; the unsigned program never runs.
TEST(StartJudgedProcess, RunsOnlyTheFileThatWasJudged)
{
    const struct {
        Swap swap;
        const char* what;
    } cases[] = {
        {Swap::None, "nothing changed: the judged wizard runs"},
        {Swap::RepointFileLink, "the package's name is a link, re-pointed"},
        {Swap::RepointFolderLink, "the wizard's folder is a link, re-pointed"},
        {Swap::RenameFolder, "the wizard's folder renamed away and another put there"},
        {Swap::SecondName, "the judged file was given a second name"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const JudgedRun run = JudgeSwapAndStart(dir, c.swap);
        // Windows refuses a link at the check already; Wine follows it, as an open would.
        if (!run.judged && !RunningOnWine() && c.swap != Swap::None) continue;
        ASSERT_TRUE(run.judged) << c.what;
        // Under Wine every attack goes through; Windows refuses the folder's rename.
        if (RunningOnWine() || c.swap != Swap::RenameFolder) {
            EXPECT_EQ(run.swapped, c.swap != Swap::None) << c.what;
        }
        EXPECT_FALSE(run.helperRan) << c.what;
        EXPECT_EQ(run.started, !run.swapped) << c.what;
    }
}

TEST(StartJudgedProcess, RefusesWithoutAJudgedFile)
{
    ScratchDir dir;
    const std::wstring marker = dir / L"marker.txt";
    const std::wstring command =
        L"\"" + FixturePath(L"runner_helper.exe") + L"\" \"" + marker + L"\" quick";
    EXPECT_FALSE(sys::StartJudgedProcess(command, INVALID_HANDLE_VALUE, kHidden));
    EXPECT_FALSE(sys::StartJudgedProcess(command, nullptr, kHidden));
    // A judged file that is not the program started: refused before it runs.
    win::File other = sys::OpenLocked(PkiPath(L"signed-dekavroline.exe"));
    ASSERT_TRUE(other);
    EXPECT_FALSE(sys::StartJudgedProcess(command, other.get(), kHidden));
    ::Sleep(500);
    EXPECT_FALSE(Exists(marker));
}

}  // namespace
