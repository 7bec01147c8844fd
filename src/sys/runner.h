// Runs a program and waits for its end, ending it when its window stops answering.
#pragma once
#include <windows.h>

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

// Where and how a judged program starts. Nothing is inherited from where Morvane was started
// (often the user's downloads or the installation media): the current folder is given, and
// the folders a program's library search reaches are ones only administrators can write.
struct JudgedStart {
    bool hidden = false;
    std::wstring folder;  // its current folder
    std::wstring temp;    // TEMP and TMP in its environment; empty: ours
};

// Starts `commandLine` as StartProcess does, but suspended, and lets it run only when the
// image the system loaded is the very file `judgedFile` (a handle from sys::VerifyPackage,
// which shuts out writers and deleters) and that file has no name but the one it was judged
// under. Otherwise the process is terminated before its first instruction and nothing is
// returned. The caller keeps `judgedFile` open until this returns.
StartedProcess StartJudgedProcess(const std::wstring& commandLine, HANDLE judgedFile,
                                  const JudgedStart& how);

// The program's exit code once it has ended; false while it runs or when the system cannot say.
bool ExitCodeOf(const StartedProcess& started, unsigned long* code);

// Whether a watched window that stops answering ends the program.
enum class HangPolicy {
    EndWhenHung,  // the package: a hung extractor would keep the update waiting for ever
    Never,        // the new wizard: the user's installation must not be cut off mid-way
};

enum class ProcessEnd {
    Ended,        // by itself, with any exit code but the ones below
    EndedAsHung,  // terminated by the runner
    NotLoaded,    // ended within the first wait with a loader failure status
                  // (sys::IsLoaderFailure): it never ran, so the caller may start another
};

// Blocks until the program has ended, watching it for a hang as `policy` says (see below).
// Does not pump the calling thread's messages.
ProcessEnd WaitForProcess(const StartedProcess& started, HangPolicy policy);

// Blocks until the program has ended. If it still runs after 2 s, a top-level window of it
// is watched: pinged with WM_NULL after every 500 ms wait. A ping not answered within 10 s,
// or refused at once because the system counts the window as hung, terminates the program.
// A watched window that goes is replaced by another window of the program, or, when it has
// none, the program is waited for without limit. true when the program was terminated.
// Does not pump the calling thread's messages.
bool WaitForProcess(const StartedProcess& started);  // HangPolicy::EndWhenHung

// StartProcess, then WaitForProcess. 1 when the program was started, however it ended; 0 when
// it could not be started. `terminated`, when given, tells whether it was ended as hung.
int RunProcessAndWait(const std::wstring& commandLine, bool hidden, bool* terminated = nullptr);

}  // namespace sys
