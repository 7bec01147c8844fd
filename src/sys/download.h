// Network primitives: the support server's connectivity probe and URL downloads to files.
// Every fetch goes through the system's proxy settings, never shows a credential or
// certificate prompt, and never reads or writes the internet cache.
//
// WinINet is bound at run time from the system folder, like every library
// Morvane needs beyond the few Windows always takes from there.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "win/handles.h"
#include "win/thread.h"

namespace sys {

using win::Deadline;

// The connectivity probe of the server at `url`, begun at construction on a thread of its own,
// so that the caller can get on with work nobody outside sees while it runs.
class ServerProbe {
public:
    explicit ServerProbe(const wchar_t* url);
    ~ServerProbe();
    ServerProbe(const ServerProbe&) = delete;
    ServerProbe& operator=(const ServerProbe&) = delete;
    // True when the machine reports a connection and the server answers a forced connection
    // check before the deadline; false otherwise. Waits at most until the deadline.
    bool Result(const Deadline& deadline) const;

private:
    class Job;
    win::Shared<Job> m_job;
};

// The probe begun and waited for in one call.
bool IsServerReachable(const wchar_t* url, const Deadline& deadline);

// The most a package download takes when the control file gives no Size=. morvane-pack refuses
// payloads over 1 GiB, and the stub and the signature add well under a megabyte: twice that
// leaves every real package room, yet stops a body without end long before it fills a disk.
constexpr unsigned long long kPackageLimitBytes = 2ull << 30;

enum class DownloadOutcome {
    Stored,              // the whole file is at its path, closed
    Failed,              // the server, the network or the disk failed
    Stalled,             // no byte arrived for the stall limit
    ProxyRefused,        // the proxy asked for credentials (407); none are offered
    CertificateRefused,  // the https server's certificate is not trusted (the trail names why)
    InsecureRedirect,    // a fetch begun on https was sent to another scheme
    Stopped,             // the caller's stop flag was set
    WrongSize,           // the server announced or sent another size than the one expected
};

// A short text for the diagnostic trail, e.g. "proxy refused".
const wchar_t* DescribeOutcome(DownloadOutcome outcome);

// The package download: the file at `file` between attempts. While the file is partial it is
// held open by this object and by no one else (no write sharing), with its delete disposition
// set, so the file disappears with the process whatever ends it; Discard and the destructor
// remove it too. Once the whole file is stored the disposition is cleared and the handle
// closed, so a reader that denies writers can open it; a stored file outlives the object, and
// only Discard removes it.
//
// Run is for one thread at a time. Destruction while no Run is active is safe even when an
// attempt's network thread is still stuck in WinINet: that thread owns its own handles and
// writes to the file only while its Run waits for it.
class PackageDownload {
public:
    // `expectedSize`: the package's bytes as the control file gives them (Size=), 0 when it
    // gives none. A Content-Length or Content-Range that says otherwise is refused before a
    // byte is stored, and a body is cut at the first byte past the size (or past
    // kPackageLimitBytes without one): both end as WrongSize, with nothing kept.
    PackageDownload(std::wstring url, std::wstring file, unsigned long long expectedSize = 0);
    ~PackageDownload();
    PackageDownload(const PackageDownload&) = delete;
    PackageDownload& operator=(const PackageDownload&) = delete;

    // One attempt, on the calling thread (the network calls run on a pool thread that Run
    // waits for and walks away from at a stall or a stop). `progress(received, total)` is
    // called on the calling thread as bytes arrive; total is 0 when the server gives no
    // length. `stop`, set non-zero by another thread, ends the attempt within a fraction of a
    // second. A cut or stalled attempt keeps the partial file when the server offered ranges
    // and a validator, and the next Run asks only for the rest (If-Range: a changed file comes
    // whole); otherwise the next Run starts over. Every other failure removes the partial.
    DownloadOutcome Run(const std::function<void(unsigned long long, unsigned long long)>& progress,
                        const volatile long* stop);

    // Removes the partial or the stored file.
    void Discard();

private:
    class Attempt;
    void ForgetPartial();

    const std::wstring m_url;
    const std::wstring m_file;
    const unsigned long long m_expected;  // 0: not given
    win::File m_partial;              // the open partial file, when there is one
    unsigned long long m_have = 0;    // bytes in the partial file
    unsigned long long m_total = 0;   // the whole file's length, 0 when unknown
    std::wstring m_validator;         // ETag or Last-Modified of the bytes we have
    bool m_stored = false;
};

// Fetches the control file into memory, where nobody else can rewrite it between the reads:
// `url` must be an http or https URL. Never uses or fills the cache, follows a few redirects
// to web URLs only (never from https to anything else), and takes a whole body of at most
// 64 KiB that arrives before the deadline. True with the whole body in `body`, else false
// with `body` empty.
bool FetchControlFile(const std::wstring& url, const Deadline& deadline, std::vector<char>* body);

}  // namespace sys
