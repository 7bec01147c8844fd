#include "sys/runner_rules.h"

namespace runner {

Action AfterFirstWait(bool stillRunning)
{
    return stillRunning ? Action::SearchWindow : Action::Finish;
}

Action AfterSearch(bool windowFound)
{
    return windowFound ? Action::Poll : Action::WaitWithoutLimit;
}

Action AfterPoll(bool stillRunning) { return stillRunning ? Action::Ping : Action::Finish; }

// Termination does not end the loop by itself: the next poll sees the program gone. A window
// that went is no hang: installers close a splash or unpacking window and go on with another.
Action AfterPing(Ping result)
{
    switch (result) {
    case Ping::Answered: return Action::Poll;
    case Ping::Gone: return Action::SearchWindow;
    case Ping::Hung: break;
    }
    return Action::TerminateAndPoll;
}

int CanCopyCommandLine(const std::wstring& commandLine)
{
    if (commandLine.size() >= kCommandLineCapacity) return 0;
    return commandLine.find(L'\0') == std::wstring::npos ? 1 : 0;
}

}  // namespace runner
