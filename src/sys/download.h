// Network primitives: the support server's connectivity probe and URL downloads to files.
//
// WinINet and urlmon are bound at run time from the system folder, like every library
// Morvane needs beyond the few Windows always takes from there.
#pragma once
#include <functional>
#include <string>

namespace sys {

// A moment by which start-up stops waiting for the network, counted from construction.
// Tick arithmetic wraps like the tick count itself, so it holds across the 49-day wrap.
class Deadline {
public:
    explicit Deadline(unsigned long budgetMs);
    // Milliseconds left, 0 once the moment has passed.
    unsigned long RemainingMs() const;

private:
    unsigned long m_start;
    unsigned long m_budgetMs;
};

// The connectivity probe of the server at `url`, begun at construction on a thread of its own,
// so that the caller can get on with work nobody outside sees while it runs.
class ServerProbe {
public:
    explicit ServerProbe(const wchar_t* url);
    ~ServerProbe();
    ServerProbe(const ServerProbe&) = delete;
    ServerProbe& operator=(const ServerProbe&) = delete;
    // 1 when the machine reports a connection and the server answers a forced connection
    // check before the deadline; 0 otherwise. Waits at most until the deadline.
    int Result(const Deadline& deadline) const;

private:
    class Job;
    Job* m_job = nullptr;
};

// The probe begun and waited for in one call.
int IsServerReachable(const wchar_t* url, const Deadline& deadline);

// Fetches the control file: `url` must be an http or https URL and `localPath` a file in an
// existing folder (both checked before anything is fetched). Never uses or fills the cache,
// follows a few redirects to web URLs only, and takes a whole body of at most 64 KiB that
// arrives before the deadline; nothing is left at `localPath` otherwise. 1 or 0.
int DownloadToFile(const std::wstring& url, const std::wstring& localPath,
                   const Deadline& deadline);

// Fetches the package into `file`, replacing what is there, after removing the URL's cache
// entry. Blocks until the whole file is stored or the download failed; a failed download
// (a full disk included) leaves no file behind. 1 or 0. `progress`, when given, hears the bytes
// so far and the length the server declared (0 while unknown), on the calling thread.
using DownloadProgress = std::function<void(unsigned long long, unsigned long long)>;
int DownloadPackageFile(const std::wstring& url, const std::wstring& file,
                        const DownloadProgress& progress = nullptr);

}  // namespace sys
