#include "sys/package_download.h"

#include <vector>

#include "sys/http_session.h"
#include "win/file_info.h"
#include "win/nt_file.h"
#include "win/syslib.h"
#include "win/trail.h"
#include "rules/wstr.h"

namespace sys {
namespace {

// How often a waiting Run looks at the stop flag, the clock and the bytes that arrived.
constexpr DWORD kStallPollMs = 100;
constexpr DWORD kReadChunk = 64 * 1024;

// How the package is made in the work folder: fresh (whatever is there already, a file or a
// link, is never written over), ours alone while partial (others may read it, nobody may write
// or delete it).
constexpr win::EntryOpen kMakePackage{GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                      FILE_CREATE, FILE_NON_DIRECTORY_FILE};

// Cuts the file to `size` bytes and puts the next write there.
bool CutTo(HANDLE file, unsigned long long size)
{
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

}  // namespace

// One attempt's network side, on a pool thread. It writes to the file only under its lock and
// only while its Run still waits for it: once Run has let go (a stall, a stop), the thread may
// stay stuck inside WinINet, but it never touches the file or the PackageDownload again.
class PackageDownload::Transfer : public win::DeadlineJob {
public:
    Transfer(std::wstring url, HANDLE file, unsigned long long have, std::wstring validator,
             const DownloadLimits& limits)
        : m_url(std::move(url)),
          m_file(file),
          m_validator(std::move(validator)),
          m_base(have),
          m_limits(limits),
          m_most(limits.expectedBytes ? limits.expectedBytes : limits.maxBytes)
    {
        m_result.have = have;
    }

    // What Run reads: under the lock while the thread runs, freely once it has let go.
    struct Result {
        NetFault fault = NetFault::NoConnection;
        unsigned long long have = 0;   // bytes in the file
        unsigned long long total = 0;  // the whole file's length, 0 when unknown
        std::wstring validator;        // for the next attempt's If-Range; empty: no resume
    };

    Result Snapshot()
    {
        win::Locked hold(m_lock);
        return m_result;
    }

    // Ends the thread's say over the file; what it wrote so far stays.
    Result LetGo(NetFault fault)
    {
        win::Locked hold(m_lock);
        m_letGo = true;
        m_result.fault = fault;
        return m_result;
    }

    class LetGoOnExit {
    public:
        explicit LetGoOnExit(Transfer* attempt) : m_attempt(attempt) {}
        ~LetGoOnExit() { m_attempt->LetGo(NetFault::Stopped); }
        LetGoOnExit(const LetGoOnExit&) = delete;
        LetGoOnExit& operator=(const LetGoOnExit&) = delete;

    private:
        Transfer* m_attempt;
    };

private:
    void Run() override
    {
        const NetFault fault = Fetch();
        win::Locked hold(m_lock);
        if (!m_letGo) m_result.fault = fault;
    }

    NetFault Fetch()
    {
        const HttpSession session;
        if (!session) return NetFault::NoConnection;
        const HttpAnswer answer = session.Open(m_url, RangeHeaders(m_base, m_validator));
        if (answer.fault != NetFault::None) return answer.fault;
        HINTERNET request = answer.request.get();
        unsigned long long total = 0;
        if (answer.status == HTTP_STATUS_PARTIAL_CONTENT && m_base) {
            if (!ParseContentRange(session.Header(request, HTTP_QUERY_CONTENT_RANGE), m_base,
                                   &total))
                return NetFault::ServerError;
            if (!IsLengthAllowed(total, m_limits)) return WrongSize(L"the range's whole", total);
            return Resume(total) ? Receive(session, request) : NetFault::DiskFull;
        }
        if (answer.status == HTTP_STATUS_OK) {
            ParseCount(session.Header(request, HTTP_QUERY_CONTENT_LENGTH), &total);
            if (!IsLengthAllowed(total, m_limits)) return WrongSize(L"Content-Length", total);
            return Restart(session, request, total) ? Receive(session, request)
                                                    : NetFault::DiskFull;
        }
        win::Trail(L"download: status " + rules::Decimal(answer.status));
        return NetFault::ServerError;
    }

    NetFault WrongSize(const wchar_t* what, unsigned long long bytes) const
    {
        win::Trail(std::wstring(L"download: refused, ") + what + L" says " + rules::Decimal(bytes) +
                   L" bytes where " + (m_limits.expectedBytes ? L"Size= says " : L"the limit is ") +
                   rules::Decimal(m_most));
        return NetFault::WrongSize;
    }

    // A whole answer: the file starts over, and this answer's validator judges a later resume.
    bool Restart(const HttpSession& session, HINTERNET request, unsigned long long total)
    {
        const bool ranges = session.Header(request, HTTP_QUERY_ACCEPT_RANGES) == L"bytes";
        const std::wstring validator =
            ranges && total ? ResumeValidator(session.Header(request, HTTP_QUERY_ETAG),
                                              session.Header(request, HTTP_QUERY_LAST_MODIFIED))
                            : std::wstring();
        win::Locked hold(m_lock);
        if (m_letGo || !CutTo(m_file, 0)) return false;
        m_result.have = 0;
        m_result.total = total;
        m_result.validator = validator;
        return true;
    }

    // The rest of the file, exactly from where ours ends.
    bool Resume(unsigned long long total)
    {
        win::Locked hold(m_lock);
        if (m_letGo || !CutTo(m_file, m_base)) return false;
        m_result.have = m_base;
        m_result.total = total;
        m_result.validator = m_validator;
        return true;
    }

    NetFault Receive(const HttpSession& session, HINTERNET request)
    {
        std::vector<char> buffer(kReadChunk);
        for (;;) {
            // Asks what has arrived before reading: Wine's InternetReadFile returns only once
            // the buffer is full or the body has ended, which would hide a slow server's bytes.
            DWORD available = 0;
            if (!session.api().InternetQueryDataAvailable(request, &available, 0, 0))
                return NetFault::Cut;
            if (available == 0) break;
            DWORD got = 0;
            if (!session.api().InternetReadFile(
                    request, buffer.data(), available < kReadChunk ? available : kReadChunk, &got))
                return NetFault::Cut;
            if (got == 0) break;
            win::Locked hold(m_lock);
            if (m_letGo) return NetFault::Stopped;
            // The first byte past the size ends the download; none of that read is written.
            if (got > m_most - m_result.have) {
                m_result.validator.clear();
                return WrongSize(L"the body, longer than announced,", m_result.have + got);
            }
            DWORD written = 0;
            if (!::WriteFile(m_file, buffer.data(), got, &written, nullptr) || written != got) {
                // A full disk: nothing of this attempt is worth keeping.
                m_result.validator.clear();
                return NetFault::DiskFull;
            }
            m_result.have += got;
        }
        const Result result = Snapshot();
        if (result.total && result.have != result.total) return NetFault::Cut;
        if (m_limits.expectedBytes && result.have != m_limits.expectedBytes) return NetFault::Cut;
        return NetFault::None;
    }

    const std::wstring m_url;
    const HANDLE m_file;
    const std::wstring m_validator;
    const unsigned long long m_base;
    const DownloadLimits m_limits;
    const unsigned long long m_most;  // Size=, else the limit
    win::Lock m_lock;
    bool m_letGo = false;
    Result m_result;
};

PackageDownload::PackageDownload(std::wstring url, HANDLE folder, std::wstring name,
                                 DownloadLimits limits)
    : m_url(std::move(url)), m_folder(folder), m_name(std::move(name)), m_limits(limits)
{
}

PackageDownload::~PackageDownload() { ForgetPartial(); }

void PackageDownload::Discard()
{
    ForgetPartial();
    if (m_stored) win::RemoveInFolder(m_folder, m_name);
    m_stored = false;
}

void PackageDownload::Retarget(const std::wstring& url)
{
    if (url == m_url) return;
    ForgetPartial();
    m_url = url;
}

// Closes the partial file, which its delete disposition removes; it is removed by name in the
// held folder too where the disposition could not be set.
void PackageDownload::ForgetPartial()
{
    if (!m_partial) return;
    m_partial.reset();
    win::RemoveInFolder(m_folder, m_name);
    m_have = 0;
    m_total = 0;
    m_validator.clear();
}

NetFault PackageDownload::Run(const Progress& progress, const win::StopFlag& stop)
{
    // Never the cache: an entry an earlier program left goes, and this fetch writes none.
    ForgetCachedCopy(m_url);
    if (m_stored) Discard();
    if (!m_partial) {
        if (win::OpenInFolder(m_folder, m_name, kMakePackage, &m_partial) !=
            win::EntryResult::Opened)
            return NetFault::DiskFull;
        win::SetDeleteOnClose(m_partial.get(), true);
        m_have = 0;
        m_validator.clear();
    }

    win::Shared<Transfer> attempt(
        new Transfer(m_url, m_partial.get(), m_have, m_validator, m_limits));
    if (!attempt->Start()) return NetFault::NoConnection;
    // However Run is left, the thread's say over the file ends first.
    Transfer::LetGoOnExit letGo(attempt.get());
    Transfer::Result result;
    Transfer::Result reported = attempt->Snapshot();
    DWORD lastByte = ::GetTickCount();
    for (;;) {
        if (attempt->FinishedBy(win::Deadline(kStallPollMs))) {
            result = attempt->Snapshot();
            break;
        }
        const Transfer::Result now = attempt->Snapshot();
        if (now.have != reported.have) lastByte = ::GetTickCount();
        if (now.have != reported.have || now.total != reported.total) {
            reported = now;
            if (progress) progress(now.have, now.total);
        }
        if (stop.IsRequested()) {
            result = attempt->LetGo(NetFault::Stopped);
            break;
        }
        if (::GetTickCount() - lastByte >= m_limits.stallMs) {
            result = attempt->LetGo(NetFault::Stalled);
            break;
        }
    }
    m_have = result.have;
    m_total = result.total;
    m_validator = result.validator;

    if (progress && (m_have != reported.have || m_total != reported.total))
        progress(m_have, m_total);
    if (result.fault == NetFault::None) {
        // The stored size held against what arrived: a disk that filled on the way must not
        // pass for a whole file.
        unsigned long long size = 0;
        if (!win::FileSize(m_partial.get(), &size) || size != m_have ||
            !win::SetDeleteOnClose(m_partial.get(), false)) {
            ForgetPartial();
            return NetFault::DiskFull;
        }
        m_partial.reset();
        m_stored = true;
        return NetFault::None;
    }
    const bool interrupted = result.fault == NetFault::Cut || result.fault == NetFault::Stalled ||
                             result.fault == NetFault::Stopped;
    // A wrong size keeps nothing: what arrived may not be the package at all.
    if (!interrupted || m_validator.empty() || m_have == 0) ForgetPartial();
    if (result.fault != NetFault::Stopped)
        win::Trail(L"download: " + std::wstring(FaultName(result.fault)));
    return result.fault;
}

}  // namespace sys
