#include "sys/runner.h"

#include <windows.h>

#include "sys/runner_rules.h"
#include "win/handles.h"

namespace sys {
namespace {

bool StillRunning(HANDLE process, DWORD milliseconds)
{
    // Only a time-out means "still running"; a failed wait counts as the end, so a broken
    // handle cannot keep the caller here for ever.
    return ::WaitForSingleObject(process, milliseconds) == WAIT_TIMEOUT;
}

// The first top-level window in Z order owned by the process, hidden ones included.
HWND FindProcessWindow(DWORD processId)
{
    for (HWND window = ::GetTopWindow(nullptr); window;
         window = ::GetWindow(window, GW_HWNDNEXT)) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == processId) return window;
    }
    return nullptr;
}

bool Answers(HWND window)
{
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                 runner::kPingTimeoutMs, &result) != 0;
}

// Polls the program and pings its window until a wait sees it end.
void WatchWindow(HANDLE process, HWND window)
{
    runner::Action action = runner::Action::Poll;
    for (;;) {
        switch (action) {
        case runner::Action::Poll:
            action = runner::AfterPoll(StillRunning(process, runner::kPollMs));
            break;
        case runner::Action::Ping:
            action = runner::AfterPing(Answers(window));
            break;
        case runner::Action::TerminateAndPoll:
            ::TerminateProcess(process, 0);
            action = runner::Action::Poll;
            break;
        default:
            return;
        }
    }
}

win::Handle Start(const std::wstring& commandLine, bool hidden, DWORD* processId)
{
    wchar_t buffer[runner::kCommandLineCapacity] = {};
    commandLine.copy(buffer, commandLine.size());  // fits: checked by the caller

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(hidden ? SW_HIDE : SW_SHOWDEFAULT);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, buffer, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started))
        return win::Handle();
    ::CloseHandle(started.hThread);
    *processId = started.dwProcessId;
    return win::Handle(started.hProcess);
}

}  // namespace

int RunProcessAndWait(const std::wstring& commandLine, bool hidden)
{
    if (!runner::CanCopyCommandLine(commandLine)) return 0;
    DWORD processId = 0;
    win::Handle process = Start(commandLine, hidden, &processId);
    if (!process) return 0;

    if (runner::AfterFirstWait(StillRunning(process.get(), runner::kFirstWaitMs)) ==
        runner::Action::Finish)
        return 1;
    HWND window = FindProcessWindow(processId);
    if (runner::AfterSearch(window != nullptr) == runner::Action::WaitWithoutLimit)
        ::WaitForSingleObject(process.get(), INFINITE);
    else
        WatchWindow(process.get(), window);
    return 1;
}

}  // namespace sys
