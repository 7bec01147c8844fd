// Runs a program and waits for its end, ending it when its window stops answering.
#pragma once
#include <string>

namespace sys {

// Starts `commandLine` (the first token names the program; quote a path with spaces) shown
// with SW_HIDE or SW_SHOWDEFAULT, and blocks until it has ended. If it still runs after 2 s
// and owns a top-level window then, that window is pinged with WM_NULL after every 500 ms
// wait; a ping not answered within 10 s (or refused at once because the window is hung or
// gone) terminates the program. 1 when it was started, however it ended; 0 when it could not
// be started, including a command line of 260 characters or more (nothing is started).
// Does not pump the calling thread's messages.
int RunProcessAndWait(const std::wstring& commandLine, bool hidden);

}  // namespace sys
