#include "sys/runner.h"

#include <windows.h>

#include "sys/runner_rules.h"
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

runner::Ping PingWindow(HWND window)
{
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, runner::kPingTimeoutMs,
                              &result))
        return runner::Ping::Answered;
    // A send to a window destroyed before or during the ping fails too: that is no hang.
    return ::IsWindow(window) ? runner::Ping::Hung : runner::Ping::Gone;
}

// Watches the program's windows until a wait sees it end; true when it had to be terminated.
bool Watch(HANDLE process, DWORD processId)
{
    bool terminated = false;
    HWND window = nullptr;
    runner::Action action = runner::Action::SearchWindow;
    for (;;) {
        switch (action) {
        case runner::Action::SearchWindow:
            window = FindProcessWindow(processId);
            action = runner::AfterSearch(window != nullptr);
            break;
        case runner::Action::WaitWithoutLimit:
            trail::Say(L"runner: the program has no window; waiting for its end without limit");
            ::WaitForSingleObject(process, INFINITE);
            return terminated;
        case runner::Action::Poll:
            action = runner::AfterPoll(StillRunning(process, runner::kPollMs));
            break;
        case runner::Action::Ping:
            action = runner::AfterPing(PingWindow(window));
            break;
        case runner::Action::TerminateAndPoll:
            trail::Say(L"runner: the program's window does not answer; ending it as hung");
            terminated = ::TerminateProcess(process, 0) != 0 || terminated;
            action = runner::Action::Poll;
            break;
        case runner::Action::Finish:
            return terminated;
        }
    }
}

}  // namespace

StartedProcess StartProcess(const std::wstring& commandLine, bool hidden)
{
    StartedProcess started;
    if (!runner::CanCopyCommandLine(commandLine)) {
        trail::Say(L"runner: command line too long or malformed; nothing started");
        return started;
    }
    wchar_t buffer[runner::kCommandLineCapacity] = {};
    commandLine.copy(buffer, commandLine.size());

    // A record of its own: ours may carry a C runtime's inherited-handle block
    // (lpReserved2) or a title that are not meant for the child.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(hidden ? SW_HIDE : SW_SHOWDEFAULT);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, buffer, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        trail::Say(L"runner: could not start " + runner::ProgramOf(commandLine));
        return started;
    }
    trail::Say(L"runner: started " + runner::ProgramOf(commandLine));
    ::CloseHandle(info.hThread);
    started.process.reset(info.hProcess);
    started.id = info.dwProcessId;
    return started;
}

bool WaitForProcess(const StartedProcess& started)
{
    if (!started) return false;
    if (runner::AfterFirstWait(StillRunning(started.process.get(), runner::kFirstWaitMs)) ==
        runner::Action::Finish)
        return false;
    return Watch(started.process.get(), started.id);
}

int RunProcessAndWait(const std::wstring& commandLine, bool hidden, bool* terminated)
{
    const StartedProcess started = StartProcess(commandLine, hidden);
    if (!started) return 0;
    const bool ended = WaitForProcess(started);
    trail::Say(ended ? L"runner: program terminated" : L"runner: program ended");
    if (terminated) *terminated = ended;
    return 1;
}

}  // namespace sys
