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

// Termination does not end the loop by itself: the next poll sees the program gone.
Action AfterPing(bool answered) { return answered ? Action::Poll : Action::TerminateAndPoll; }

int CanCopyCommandLine(const std::wstring& commandLine)
{
    if (commandLine.size() >= kCommandLineCapacity) return 0;
    return commandLine.find(L'\0') == std::wstring::npos ? 1 : 0;
}

}  // namespace runner
