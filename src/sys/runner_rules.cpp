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

std::wstring ProgramOf(const std::wstring& commandLine)
{
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const size_t close = commandLine.find(L'"', 1);
        return commandLine.substr(1, close == std::wstring::npos ? close : close - 1);
    }
    return commandLine.substr(0, commandLine.find_first_of(L" \t"));
}

}  // namespace runner
