// The process runner's decisions, apart from the calls that carry them out: how long each
// wait lasts and what follows each wait and each ping.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace sys {

constexpr unsigned long kFirstWaitMs = 2000;     // before the runner looks for a window
constexpr unsigned long kPollMs = 500;           // each wait while a window is watched
constexpr unsigned long kPingTimeoutMs = 10000;  // how long a ping may take
constexpr size_t kCommandLineCapacity = 260;     // the buffer CreateProcessW may write into

enum class Action {
    SearchWindow,      // look for a top-level window of the program to watch
    WaitWithoutLimit,  // no window: wait for the end, without hang detection
    Poll,              // wait one poll interval
    Ping,              // ping the watched window
    TerminateAndPoll,  // the window did not answer: end the program, then see it end
    Finish,            // the program ended (or the wait failed): close up and return
};

// What a ping of the watched window found.
enum class Ping {
    Answered,
    Hung,  // the window exists and did not answer in time, or the system counts it as hung
    Gone,  // the window no longer exists: the program may have gone on with another one
};

Action AfterFirstWait(bool stillRunning);
Action AfterSearch(bool windowFound);
Action AfterPoll(bool stillRunning);
Action AfterPing(Ping result);

// The NTSTATUS codes with which the loader ends a process before its first line of code runs:
// a library missing or invalid, an import missing, a library's initialisation failing, an
// image of the wrong kind or refused by policy. A program that ends with one of them during
// the first wait never started.
extern const std::uint32_t kLoaderFailures[];
extern const size_t kLoaderFailureCount;
bool IsLoaderFailure(std::uint32_t exitCode);

// True when the command line fits the 260-character buffer with its terminator and holds no
// NUL (which would silently cut it short and start something other than what was asked).
bool CanCopyCommandLine(const std::wstring& commandLine);

// An environment block (NAME=value entries each ending in a NUL, the block in one more) with
// TEMP and TMP set to `temp`: entries of those names, in any case, are replaced where they
// stand and added at the end when missing; every other entry stays as it is. A block without
// its final NUL is read up to its end.
std::wstring WithTemporaryFolder(const std::wstring& block, const std::wstring& temp);

// The program a command line starts, for the diagnostic trail: its first token, unquoted;
// the arguments, which may carry user data, are left out.
std::wstring ProgramOf(const std::wstring& commandLine);

}  // namespace sys
