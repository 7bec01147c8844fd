// Runs a program and waits for its end, ending it when its window stops answering.
#pragma once
#include <string>

#include "win/handles.h"

namespace sys {

// A program started by StartProcess; empty when nothing was started.
struct StartedProcess {
    win::Handle process;
    unsigned long id = 0;
    explicit operator bool() const { return process.valid(); }
};

// Starts `commandLine` (the first token names the program; quote a path with spaces) shown
// with SW_HIDE or SW_SHOWDEFAULT, with a start-up record of its own (nothing inherited from
// ours). Nothing is started for a command line of 260 characters or more.
StartedProcess StartProcess(const std::wstring& commandLine, bool hidden);

// Blocks until the program has ended. If it still runs after 2 s, a top-level window of it
// is watched: pinged with WM_NULL after every 500 ms wait. A ping not answered within 10 s,
// or refused at once because the system counts the window as hung, terminates the program.
// A watched window that goes is replaced by another window of the program, or, when it has
// none, the program is waited for without limit. true when the program was terminated.
// Does not pump the calling thread's messages.
bool WaitForProcess(const StartedProcess& started);

// StartProcess, then WaitForProcess. 1 when the program was started, however it ended; 0 when
// it could not be started. `terminated`, when given, tells whether it was ended as hung.
int RunProcessAndWait(const std::wstring& commandLine, bool hidden, bool* terminated = nullptr);

}  // namespace sys
