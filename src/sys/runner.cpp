#include "sys/runner.h"

#include <windows.h>

#include <vector>

#include "sys/runner_rules.h"
#include "win/file_info.h"
#include "win/syslib.h"
#include "win/trail.h"

namespace sys {
namespace {

bool StillRunning(HANDLE process, DWORD milliseconds)
{
    // Only a time-out means "still running"; a failed wait counts as the end, so a broken
    // handle cannot keep the caller here for ever.
    return ::WaitForSingleObject(process, milliseconds) == WAIT_TIMEOUT;
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK TakeFirstOfProcess(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
    search->found = window;
    return FALSE;
}

// The first top-level window in Z order owned by the process, hidden ones included.
// EnumWindows takes a snapshot, so windows destroyed meanwhile cannot send it round in circles
// as a GetWindow(GW_HWNDNEXT) walk can.
HWND FindProcessWindow(DWORD processId)
{
    WindowSearch search = {processId, nullptr};
    ::EnumWindows(TakeFirstOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

sys::Ping PingWindow(HWND window)
{
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, sys::kPingTimeoutMs,
                              &result))
        return sys::Ping::Answered;
    // A send to a window destroyed before or during the ping fails too: that is no hang.
    return ::IsWindow(window) ? sys::Ping::Hung : sys::Ping::Gone;
}

// Watches the program's windows until a wait sees it end; true when it had to be terminated.
bool Watch(HANDLE process, DWORD processId)
{
    bool terminated = false;
    HWND window = nullptr;
    sys::Action action = sys::Action::SearchWindow;
    for (;;) {
        switch (action) {
        case sys::Action::SearchWindow:
            window = FindProcessWindow(processId);
            action = sys::AfterSearch(window != nullptr);
            break;
        case sys::Action::WaitWithoutLimit:
            win::Trail(L"runner: the program has no window; waiting for its end without limit");
            ::WaitForSingleObject(process, INFINITE);
            return terminated;
        case sys::Action::Poll: action = sys::AfterPoll(StillRunning(process, sys::kPollMs)); break;
        case sys::Action::Ping: action = sys::AfterPing(PingWindow(window)); break;
        case sys::Action::TerminateAndPoll:
            win::Trail(L"runner: the program's window does not answer; ending it as hung");
            terminated = ::TerminateProcess(process, 0) != 0 || terminated;
            action = sys::Action::Poll;
            break;
        case sys::Action::Finish: return terminated;
        }
    }
}

// Is the image of the suspended `process` the judged file? Empty when it is, else why not.
//
// Why the image's path is enough: QueryFullProcessImageNameW gives the name the system opened
// the image under, after every link on the way was resolved. While we hold the judged file
// open without delete sharing, none of its names can be renamed or deleted (both take DELETE
// access), so the name it was judged under keeps naming it. A second name (a hard link anyone
// may add, which then can never go while we hold the file) is refused outright. So if that
// path, opened now without following a link at its end, is the judged file with its one name,
// and the handle's own path is the image path (no folder on the way turned into a link since
// the start), the system loaded the judged file.
std::wstring WhyNotJudgedImage(HANDLE process, HANDLE judgedFile)
{
    std::vector<wchar_t> image(32768);
    DWORD size = static_cast<DWORD>(image.size());
    if (!win::Kernel32().QueryFullProcessImageNameW(process, 0, image.data(), &size))
        return L"the image's path cannot be read";
    const std::wstring imagePath(image.data(), size);
    unsigned long links = 0;
    if (!win::LinkCount(judgedFile, &links)) return L"the judged file cannot be read";
    if (links != 1) return L"the judged file has another name besides the one it was judged under";
    if (!win::PathNamesHeld(imagePath, judgedFile))
        return L"the image " + imagePath +
               L" is another file than the one judged, or is reached through a link";
    return std::wstring();
}

// The environment block for a program whose TEMP and TMP are `temp`; empty when ours will do.
std::wstring EnvironmentFor(const std::wstring& temp)
{
    if (temp.empty()) return std::wstring();
    const LPWCH ours = ::GetEnvironmentStringsW();
    if (!ours) return std::wstring();
    const wchar_t* end = ours;
    while (*end) end += std::char_traits<wchar_t>::length(end) + 1;
    const std::wstring block(ours, static_cast<size_t>(end - ours));
    ::FreeEnvironmentStringsW(ours);
    return sys::WithTemporaryFolder(block, temp);
}

bool Create(const std::wstring& commandLine, const JudgedStart& how, DWORD flags,
            PROCESS_INFORMATION* info)
{
    if (!sys::CanCopyCommandLine(commandLine)) {
        win::Trail(L"runner: command line too long or malformed; nothing started");
        return false;
    }
    wchar_t buffer[sys::kCommandLineCapacity] = {};
    commandLine.copy(buffer, commandLine.size());

    // A record of its own: ours may carry a C runtime's inherited-handle block
    // (lpReserved2) or a title that are not meant for the child.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(how.hidden ? SW_HIDE : SW_SHOWDEFAULT);
    std::wstring environment = EnvironmentFor(how.temp);
    if (!how.temp.empty() && environment.empty()) {
        win::Trail(L"runner: no environment for " + sys::ProgramOf(commandLine));
        return false;
    }
    if (!environment.empty()) flags |= CREATE_UNICODE_ENVIRONMENT;
    if (!::CreateProcessW(nullptr, buffer, nullptr, nullptr, FALSE, flags,
                          environment.empty() ? nullptr : &environment[0],
                          how.folder.empty() ? nullptr : how.folder.c_str(), &startup, info)) {
        win::Trail(L"runner: could not start " + sys::ProgramOf(commandLine));
        return false;
    }
    return true;
}

// Waits through the first wait; true when the program is still running after it. `end` says
// how a program that ended meanwhile ended.
bool RunsPastFirstWait(HANDLE process, ProcessEnd* end)
{
    *end = ProcessEnd::Ended;
    if (StillRunning(process, sys::kFirstWaitMs)) return true;
    DWORD code = 0;
    if (::GetExitCodeProcess(process, &code) && sys::IsLoaderFailure(code)) {
        win::Trail(L"runner: the program ended while loading; it never ran");
        *end = ProcessEnd::NotLoaded;
    }
    return false;
}

}  // namespace

StartedProcess StartProcess(const std::wstring& commandLine, bool hidden)
{
    StartedProcess started;
    PROCESS_INFORMATION info{};
    JudgedStart how;
    how.hidden = hidden;
    if (!Create(commandLine, how, 0, &info)) return started;
    // Its first thread's handle is of no use here.
    const win::Handle thread(info.hThread);
    win::Trail(L"runner: started " + sys::ProgramOf(commandLine));
    started.process.reset(info.hProcess);
    started.id = info.dwProcessId;
    return started;
}

StartedProcess StartJudgedProcess(const std::wstring& commandLine, HANDLE judgedFile,
                                  const JudgedStart& how)
{
    StartedProcess started;
    if (!judgedFile || judgedFile == INVALID_HANDLE_VALUE) return started;
    PROCESS_INFORMATION info{};
    if (!Create(commandLine, how, CREATE_SUSPENDED, &info)) return started;
    win::Handle process(info.hProcess);
    win::Handle thread(info.hThread);
    const std::wstring why = WhyNotJudgedImage(process.get(), judgedFile);
    if (!why.empty()) {
        // Never resumed: not one instruction of it has run.
        ::TerminateProcess(process.get(), ERROR_ACCESS_DENIED);
        ::WaitForSingleObject(process.get(), INFINITE);
        win::Trail(L"runner: refused to run " + sys::ProgramOf(commandLine) + L": " + why);
        return started;
    }
    if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        ::TerminateProcess(process.get(), ERROR_ACCESS_DENIED);
        win::Trail(L"runner: could not resume " + sys::ProgramOf(commandLine));
        return started;
    }
    win::Trail(L"runner: started the judged " + sys::ProgramOf(commandLine));
    started.process = std::move(process);
    started.id = info.dwProcessId;
    return started;
}

bool ExitCodeOf(const StartedProcess& started, unsigned long* code)
{
    DWORD exitCode = 0;
    if (!started || !::GetExitCodeProcess(started.process.get(), &exitCode) ||
        exitCode == STILL_ACTIVE)
        return false;
    *code = exitCode;
    return true;
}

ProcessEnd WaitForProcess(const StartedProcess& started, HangPolicy policy)
{
    if (!started) return ProcessEnd::Ended;
    ProcessEnd end = ProcessEnd::Ended;
    if (sys::AfterFirstWait(RunsPastFirstWait(started.process.get(), &end)) == sys::Action::Finish)
        return end;
    if (policy == HangPolicy::Never) {
        win::Trail(L"runner: waiting for the program's end without hang detection");
        ::WaitForSingleObject(started.process.get(), INFINITE);
        return ProcessEnd::Ended;
    }
    return Watch(started.process.get(), started.id) ? ProcessEnd::EndedAsHung : ProcessEnd::Ended;
}

bool WaitForProcess(const StartedProcess& started)
{
    return WaitForProcess(started, HangPolicy::EndWhenHung) == ProcessEnd::EndedAsHung;
}

int RunProcessAndWait(const std::wstring& commandLine, bool hidden, bool* terminated)
{
    const StartedProcess started = StartProcess(commandLine, hidden);
    if (!started) return 0;
    const bool ended = WaitForProcess(started);
    win::Trail(ended ? L"runner: program terminated" : L"runner: program ended");
    if (terminated) *terminated = ended;
    return 1;
}

}  // namespace sys
