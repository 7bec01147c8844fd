#include "sys/download.h"
#include "sys/download_seam.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "rules/names.h"
#include "win/handles.h"
#include "win/syslib.h"
#include "win/thread.h"
#include "win/trail.h"

namespace sys {
namespace {

// Anything bigger is not a control file, whatever the server says it is.
const DWORD kControlFileLimit = 64 * 1024;
const int kMaxRedirects = 5;

// The WinINet calls a fetch makes; null when the system lacks one of them.
const win::WinInetCalls* FetchCalls()
{
    const win::WinInetCalls& api = win::WinInet();
    return win::Present(api.InternetGetConnectedState, api.InternetCheckConnectionW,
                        api.InternetOpenW, api.InternetOpenUrlW, api.HttpQueryInfoW,
                        api.InternetReadFile, api.InternetQueryDataAvailable,
                        api.InternetCombineUrlW, api.InternetQueryOptionW,
                        api.InternetCloseHandle, api.DeleteUrlCacheEntryW)
               ? &api
               : nullptr;
}

}  // namespace

class ServerProbe::Job : public win::DeadlineJob {
public:
    Job(const win::WinInetCalls& api, const wchar_t* url) : m_api(api), m_url(url) {}
    bool result = false;

private:
    void Run() override;

    const win::WinInetCalls& m_api;  // bound for the life of the process
    const std::wstring m_url;
};

namespace {

// Wine's WinINet loads its TLS helpers by name on the first https request, from the
// program's folder first; they are taken from the system folder before that.
void PreloadHttpsHelpers(const std::wstring& url)
{
    if (rules::IsHttpsUrl(url)) win::PreloadSystemLibraries(win::OnDemand::Https);
}

bool IsRedirect(DWORD status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool QueryNumber(const win::WinInetCalls& api, HINTERNET request, DWORD query, DWORD* value)
{
    DWORD size = sizeof *value;
    return api.HttpQueryInfoW(request, query | HTTP_QUERY_FLAG_NUMBER, value, &size, nullptr) !=
           FALSE;
}

// A header's text; empty when the answer has none (or it does not fit).
std::wstring QueryText(const win::WinInetCalls& api, HINTERNET request, DWORD query)
{
    wchar_t text[1024];
    DWORD size = sizeof text;
    if (!api.HttpQueryInfoW(request, query, text, &size, nullptr)) return std::wstring();
    return std::wstring(text, size / sizeof(wchar_t));
}

// A decimal number of up to 64 bits that makes up the whole of `text`.
bool ParseCount(const std::wstring& text, unsigned long long* value)
{
    if (text.empty() || text.size() > 19) return false;
    unsigned long long number = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        number = number * 10 + static_cast<unsigned>(c - L'0');
    }
    *value = number;
    return true;
}

// The Location header resolved against the URL it came from.
bool RedirectTarget(const win::WinInetCalls& api, HINTERNET request, std::wstring* url)
{
    wchar_t location[INTERNET_MAX_URL_LENGTH];
    DWORD size = sizeof location;
    if (!api.HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &size, nullptr)) return false;
    wchar_t combined[INTERNET_MAX_URL_LENGTH];
    DWORD length = INTERNET_MAX_URL_LENGTH;
    if (!api.InternetCombineUrlW(url->c_str(), location, combined, &length, ICU_NO_ENCODE))
        return false;
    url->assign(combined, length);
    return true;
}

// The certificate fault behind a failed https request, named for the trail; nullptr when the
// failure was something else. Nothing asks WinINet to overlook any of these.
const wchar_t* CertificateFault(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_INVALID_CA: return L"unknown root";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID: return L"wrong name";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return L"expired";
    case ERROR_INTERNET_SEC_CERT_REVOKED: return L"revoked";
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED: return L"invalid certificate";
    default: return nullptr;
    }
}

// Straight from the server every time, nothing of it left in the cache, no prompt of any kind
// (a proxy's 407 or a certificate fault ends the fetch), and every redirect judged by us.
const DWORD kFetchFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                          INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                          INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

// A session that takes the system's proxy settings.
HINTERNET OpenSession(const win::WinInetCalls& api)
{
    return api.InternetOpenW(L"Morvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
}

// One URL opened, its redirects followed. On true, `request` holds an answer that is neither a
// redirect nor a proxy's 407, with its status. On false, `refusal` says why (Failed for the
// network's and the server's faults) and `why` words it for the trail.
bool OpenUrl(const win::WinInetCalls& api, HINTERNET session, std::wstring url,
             const std::wstring& headers, HINTERNET* request, DWORD* status,
             DownloadOutcome* refusal, std::wstring* why)
{
    *refusal = DownloadOutcome::Failed;
    const bool secure = rules::IsHttpsUrl(url);
    for (int hop = 0; hop <= kMaxRedirects; ++hop) {
        // Every hop, the first included: a redirect to a file, a share or another scheme would
        // have the elevated program take something local for what it fetched.
        if (!rules::IsWebUrl(url)) {
            *why = L"not a web URL";
            return false;
        }
        if (secure && !rules::IsHttpsUrl(url)) {
            *refusal = DownloadOutcome::InsecureRedirect;
            *why = L"redirect from https to " + url + L" refused";
            return false;
        }
        PreloadHttpsHelpers(url);
        HINTERNET opened = api.InternetOpenUrlW(session, url.c_str(),
                                                headers.empty() ? nullptr : headers.c_str(),
                                                static_cast<DWORD>(headers.size()), kFetchFlags, 0);
        if (!opened) {
            const DWORD error = ::GetLastError();
            if (const wchar_t* fault = CertificateFault(error)) {
                *refusal = DownloadOutcome::CertificateRefused;
                *why = std::wstring(L"certificate refused, ") + fault;
            } else {
                *why = L"no answer (WinINet error " + std::to_wstring(error) + L")";
            }
            return false;
        }
        win::InternetHandle answer(opened);
        if (!QueryNumber(api, opened, HTTP_QUERY_STATUS_CODE, status)) {
            *why = L"no status";
            return false;
        }
        if (*status == HTTP_STATUS_PROXY_AUTH_REQ) {
            *refusal = DownloadOutcome::ProxyRefused;
            *why = L"proxy refused";
            return false;
        }
        if (!IsRedirect(*status)) {
            *request = opened;
            answer.release();
            return true;
        }
        if (!RedirectTarget(api, opened, &url)) {
            *why = L"redirect without a target";
            return false;
        }
    }
    *why = L"too many redirects";
    return false;
}

// True when the system's settings send this session's requests through a proxy.
bool UsesProxy(const win::WinInetCalls& api, HINTERNET session)
{
    // The structure is followed by the strings it points to.
    union {
        INTERNET_PROXY_INFO info;
        char bytes[4096];
    } proxy;
    DWORD size = sizeof proxy;
    return api.InternetQueryOptionW(session, INTERNET_OPTION_PROXY, &proxy, &size) &&
           proxy.info.dwAccessType == INTERNET_OPEN_TYPE_PROXY;
}

}  // namespace

void ServerProbe::Job::Run()
{
    DWORD flags = 0;
    if (!m_api.InternetGetConnectedState(&flags, 0)) return;
    win::InternetHandle session(OpenSession(m_api));
    // Behind a proxy only the proxy can tell whether the server answers: the forced connection
    // check goes to the server directly, which such networks do not let through.
    if (!session || !UsesProxy(m_api, session.get())) {
        result = m_api.InternetCheckConnectionW(m_url.c_str(), FLAG_ICC_FORCE_CONNECTION, 0) != 0;
        return;
    }
    HINTERNET opened = nullptr;
    DWORD status = 0;
    DownloadOutcome refusal;
    std::wstring why;
    if (!OpenUrl(m_api, session.get(), m_url, std::wstring(), &opened, &status, &refusal, &why)) {
        win::Trail(L"support server through the proxy: " + why);
        return;
    }
    win::InternetHandle answer(opened);
    // Any answer of the server's own will do; the proxy's gateway errors say it found none.
    result = status != HTTP_STATUS_BAD_GATEWAY && status != HTTP_STATUS_GATEWAY_TIMEOUT;
}

namespace {

class ControlFetchJob : public win::DeadlineJob {
public:
    ControlFetchJob(const win::WinInetCalls& api, const std::wstring& url)
        : m_api(api), m_url(url)
    {
    }
    bool result = false;
    std::vector<char> body;  // narrow std::string would add a whole runtime object

private:
    void Run() override
    {
        win::InternetHandle session(OpenSession(m_api));
        if (!session) return;
        HINTERNET opened = nullptr;
        DWORD status = 0;
        DownloadOutcome refusal;
        std::wstring why;
        if (!OpenUrl(m_api, session.get(), m_url, std::wstring(), &opened, &status, &refusal,
                     &why)) {
            win::Trail(L"control file: " + why);
            return;
        }
        win::InternetHandle request(opened);
        if (status != HTTP_STATUS_OK) {
            win::Trail(L"control file: status " + std::to_wstring(status));
            return;
        }
        result = ReadWholeBody(request.get());
    }

    // The whole body, within the limit; a body shorter than its Content-Length is cut short.
    bool ReadWholeBody(HINTERNET request)
    {
        DWORD declared = 0;
        const bool hasLength = QueryNumber(m_api, request, HTTP_QUERY_CONTENT_LENGTH, &declared);
        if (hasLength && declared > kControlFileLimit) return false;
        char chunk[4096];
        for (;;) {
            DWORD got = 0;
            if (!m_api.InternetReadFile(request, chunk, sizeof chunk, &got)) return false;
            if (got == 0) break;
            body.insert(body.end(), chunk, chunk + got);
            if (body.size() > kControlFileLimit) return false;
        }
        return !hasLength || body.size() == declared;
    }

    const win::WinInetCalls& m_api;  // bound for the life of the process
    const std::wstring m_url;
};

}  // namespace


ServerProbe::ServerProbe(const wchar_t* url)
{
    const win::WinInetCalls* api = FetchCalls();
    if (!api) return;
    m_job = win::Shared<Job>(new Job(*api, url));
    m_job->Start();
}

ServerProbe::~ServerProbe() = default;

bool ServerProbe::Result(const Deadline& deadline) const
{
    return m_job && m_job->FinishedBy(deadline) && m_job->result;
}

bool IsServerReachable(const wchar_t* url, const Deadline& deadline)
{
    return ServerProbe(url).Result(deadline);
}

namespace {

const unsigned long kStallLimitMs = 30000;
unsigned long g_stallLimitMs = kStallLimitMs;
unsigned long long g_packageLimitBytes = kPackageLimitBytes;
// How often a waiting Run looks at the stop flag, the clock and the bytes that arrived.
const DWORD kPollMs = 100;
const DWORD kChunk = 64 * 1024;

// The file's delete disposition, so that a partial file goes with its last handle however the
// process ends. SetFileInformationByHandle is looked up because Windows XP lacks it; there only
// Discard and the destructor remove a partial file.
bool SetDeleteOnClose(HANDLE file, bool remove)
{
    const auto setInfo = win::Kernel32().SetFileInformationByHandle;
    if (!setInfo) return false;
    FILE_DISPOSITION_INFO info = {};
    info.DeleteFile = remove ? TRUE : FALSE;
    return setInfo(file, FileDispositionInfo, &info, sizeof info) != FALSE;
}

// Cuts the file to `size` bytes and puts the next write there.
bool CutTo(HANDLE file, unsigned long long size)
{
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

unsigned long long FileSize(HANDLE file)
{
    LARGE_INTEGER size = {};
    return ::GetFileSizeEx(file, &size) ? static_cast<unsigned long long>(size.QuadPart) : ~0ull;
}

// The validator that If-Range may carry: a strong ETag, else Last-Modified.
std::wstring RangeValidator(const win::WinInetCalls& api, HINTERNET request)
{
    const std::wstring etag = QueryText(api, request, HTTP_QUERY_ETAG);
    if (!etag.empty() && etag.compare(0, 2, L"W/") != 0) return etag;
    return QueryText(api, request, HTTP_QUERY_LAST_MODIFIED);
}

// "bytes FIRST-LAST/TOTAL" that starts at `first`; its TOTAL.
bool ContentRangeFrom(const std::wstring& range, unsigned long long first,
                      unsigned long long* total)
{
    const size_t dash = range.find(L'-');
    const size_t slash = range.find(L'/');
    unsigned long long start = 0, last = 0;
    return range.compare(0, 6, L"bytes ") == 0 && dash != std::wstring::npos &&
           slash != std::wstring::npos && dash < slash &&
           ParseCount(range.substr(6, dash - 6), &start) && start == first &&
           ParseCount(range.substr(dash + 1, slash - dash - 1), &last) &&
           ParseCount(range.substr(slash + 1), total) && last + 1 == *total && start < *total;
}

}  // namespace

namespace test_seam {
void SetStallLimitMs(unsigned long limitMs) { g_stallLimitMs = limitMs ? limitMs : kStallLimitMs; }
void SetPackageLimitBytes(unsigned long long limit)
{
    g_packageLimitBytes = limit ? limit : kPackageLimitBytes;
}
}  // namespace test_seam

// One attempt's network side, on a pool thread. It writes to the file only under its lock and
// only while its Run still waits for it: once Run has let go (a stall, a stop), the thread may
// stay stuck inside WinINet, but it never touches the file or the PackageDownload again.
class PackageDownload::Attempt : public win::DeadlineJob {
public:
    Attempt(const win::WinInetCalls& api, std::wstring url, HANDLE file, unsigned long long have,
            std::wstring validator, unsigned long long expected)
        : m_api(api), m_url(std::move(url)), m_file(file), m_validator(std::move(validator)),
          m_base(have), m_expected(expected),
          m_limit(expected ? expected : g_packageLimitBytes)
    {
        m_result.have = have;
        ::InitializeCriticalSection(&m_lock);
    }
    ~Attempt() override { ::DeleteCriticalSection(&m_lock); }

    // What Run reads: under the lock while the thread runs, freely once it has let go.
    struct Result {
        DownloadOutcome outcome = DownloadOutcome::Failed;
        unsigned long long have = 0;   // bytes in the file
        unsigned long long total = 0;  // the whole file's length, 0 when unknown
        std::wstring validator;        // for the next attempt's If-Range; empty: no resume
        bool cut = false;              // the body ended early; what arrived is good
    };

    Result Snapshot()
    {
        Locked lock(&m_lock);
        return m_result;
    }

    // Ends the thread's say over the file; what it wrote so far stays.
    Result LetGo(DownloadOutcome outcome)
    {
        Locked lock(&m_lock);
        m_letGo = true;
        m_result.outcome = outcome;
        return m_result;
    }

    class LetGoOnExit {
    public:
        explicit LetGoOnExit(Attempt* attempt) : m_attempt(attempt) {}
        ~LetGoOnExit() { m_attempt->LetGo(DownloadOutcome::Failed); }
        LetGoOnExit(const LetGoOnExit&) = delete;
        LetGoOnExit& operator=(const LetGoOnExit&) = delete;

    private:
        Attempt* m_attempt;
    };

private:
    class Locked {
    public:
        explicit Locked(CRITICAL_SECTION* lock) : m_lock(lock) { ::EnterCriticalSection(m_lock); }
        ~Locked() { ::LeaveCriticalSection(m_lock); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

    private:
        CRITICAL_SECTION* m_lock;
    };

    void Run() override
    {
        const DownloadOutcome outcome = Fetch();
        Locked lock(&m_lock);
        if (!m_letGo) m_result.outcome = outcome;
    }

    DownloadOutcome Fetch()
    {
        win::InternetHandle session(OpenSession(m_api));
        if (!session) return DownloadOutcome::Failed;
        std::wstring headers;
        if (m_base) {
            headers = L"Range: bytes=" + std::to_wstring(m_base) + L"-\r\nIf-Range: " +
                      m_validator + L"\r\n";
        }
        HINTERNET opened = nullptr;
        DWORD status = 0;
        DownloadOutcome refusal;
        std::wstring why;
        if (!OpenUrl(m_api, session.get(), m_url, headers, &opened, &status, &refusal, &why)) {
            win::Trail(L"download: " + why);
            return refusal;
        }
        win::InternetHandle request(opened);
        unsigned long long total = 0;
        if (status == HTTP_STATUS_PARTIAL_CONTENT && m_base) {
            if (!ContentRangeFrom(QueryText(m_api, request.get(), HTTP_QUERY_CONTENT_RANGE), m_base,
                                  &total))
                return DownloadOutcome::Failed;
            if (!LengthAllowed(total)) return WrongSize(L"the range answer's whole length", total);
            return Resume(total) ? Receive(request.get()) : DownloadOutcome::Failed;
        }
        if (status == HTTP_STATUS_OK) {
            ParseCount(QueryText(m_api, request.get(), HTTP_QUERY_CONTENT_LENGTH), &total);
            if (!LengthAllowed(total)) return WrongSize(L"Content-Length", total);
            return Restart(request.get(), total) ? Receive(request.get())
                                                 : DownloadOutcome::Failed;
        }
        win::Trail(L"download: status " + std::to_wstring(status));
        return DownloadOutcome::Failed;
    }

    // An announced whole-file length (0: none) that the package may have: Size= exactly when
    // the control file gives it, else no more than the limit.
    bool LengthAllowed(unsigned long long total) const
    {
        if (total == 0) return true;  // unknown: the body is counted as it arrives
        return m_expected ? total == m_expected : total <= m_limit;
    }

    DownloadOutcome WrongSize(const wchar_t* what, unsigned long long bytes) const
    {
        win::Trail(std::wstring(L"download: refused, ") + what + L" says " +
                   std::to_wstring(bytes) + L" bytes where " +
                   (m_expected ? L"Size= says " : L"the limit is ") + std::to_wstring(m_limit));
        return DownloadOutcome::WrongSize;
    }

    // A whole answer: the file starts over, and this answer's validator judges a later resume.
    bool Restart(HINTERNET request, unsigned long long total)
    {
        const bool ranges = QueryText(m_api, request, HTTP_QUERY_ACCEPT_RANGES) == L"bytes";
        const std::wstring validator = ranges && total ? RangeValidator(m_api, request)
                                                       : std::wstring();
        Locked lock(&m_lock);
        if (m_letGo || !CutTo(m_file, 0)) return false;
        m_result.have = 0;
        m_result.total = total;
        m_result.validator = validator;
        return true;
    }

    // The rest of the file, exactly from where ours ends.
    bool Resume(unsigned long long total)
    {
        Locked lock(&m_lock);
        if (m_letGo || !CutTo(m_file, m_base)) return false;
        m_result.have = m_base;
        m_result.total = total;
        m_result.validator = m_validator;
        return true;
    }

    DownloadOutcome Receive(HINTERNET request)
    {
        std::vector<char> buffer(kChunk);
        for (;;) {
            // Asks what has arrived before reading: Wine's InternetReadFile returns only once
            // the buffer is full or the body has ended, which would hide a slow server's bytes.
            DWORD available = 0;
            if (!m_api.InternetQueryDataAvailable(request, &available, 0, 0)) return Cut();
            if (available == 0) break;
            DWORD got = 0;
            if (!m_api.InternetReadFile(request, buffer.data(), available < kChunk ? available
                                                                                    : kChunk,
                                        &got))
                return Cut();
            if (got == 0) break;
            Locked lock(&m_lock);
            if (m_letGo) return DownloadOutcome::Failed;
            // The first byte past the size ends the download; none of it is written.
            if (got > m_limit - m_result.have) {
                m_result.validator.clear();
                return WrongSize(L"the body, longer than announced,", m_result.have + got);
            }
            DWORD written = 0;
            if (!::WriteFile(m_file, buffer.data(), got, &written, nullptr) || written != got) {
                // A full disk: nothing of this attempt is worth keeping.
                m_result.validator.clear();
                return DownloadOutcome::Failed;
            }
            m_result.have += got;
        }
        const Result result = Snapshot();
        if (result.total && result.have != result.total) return Cut();
        if (m_expected && result.have != m_expected) return Cut();
        return DownloadOutcome::Stored;
    }

    DownloadOutcome Cut()
    {
        Locked lock(&m_lock);
        m_result.cut = true;
        return DownloadOutcome::Failed;
    }

    const win::WinInetCalls& m_api;  // bound for the life of the process
    const std::wstring m_url;
    const HANDLE m_file;
    const std::wstring m_validator;
    const unsigned long long m_base;
    const unsigned long long m_expected;  // Size=, 0 when not given
    const unsigned long long m_limit;     // the most the file may hold
    CRITICAL_SECTION m_lock;
    bool m_letGo = false;
    Result m_result;
};

const wchar_t* DescribeOutcome(DownloadOutcome outcome)
{
    switch (outcome) {
    case DownloadOutcome::Stored: return L"stored";
    case DownloadOutcome::Failed: return L"failed";
    case DownloadOutcome::Stalled: return L"stalled";
    case DownloadOutcome::ProxyRefused: return L"proxy refused";
    case DownloadOutcome::CertificateRefused: return L"certificate refused";
    case DownloadOutcome::InsecureRedirect: return L"insecure redirect refused";
    case DownloadOutcome::Stopped: return L"stopped";
    case DownloadOutcome::WrongSize: return L"wrong size";
    }
    return L"failed";
}

PackageDownload::PackageDownload(std::wstring url, std::wstring file,
                                 unsigned long long expectedSize)
    : m_url(std::move(url)), m_file(std::move(file)), m_expected(expectedSize)
{
}

PackageDownload::~PackageDownload() { ForgetPartial(); }

void PackageDownload::Discard()
{
    ForgetPartial();
    if (m_stored) ::DeleteFileW(m_file.c_str());
    m_stored = false;
}

// Closes the partial file, which its delete disposition removes; the name is removed too
// where the disposition could not be set.
void PackageDownload::ForgetPartial()
{
    if (!m_partial) return;
    m_partial.reset();
    ::DeleteFileW(m_file.c_str());
    m_have = 0;
    m_total = 0;
    m_validator.clear();
}

DownloadOutcome PackageDownload::Run(
    const std::function<void(unsigned long long, unsigned long long)>& progress,
    const volatile long* stop)
{
    const win::WinInetCalls* api = FetchCalls();
    if (!api) return DownloadOutcome::Failed;
    // Never the cache: an entry an earlier program left goes, and this fetch writes none.
    api->DeleteUrlCacheEntryW(m_url.c_str());
    if (m_stored) Discard();
    if (!m_partial) {
        // Ours alone while partial: others may read it, nobody may write or delete it.
        m_partial.reset(::CreateFileW(m_file.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_partial) return DownloadOutcome::Failed;
        SetDeleteOnClose(m_partial.get(), true);
        m_have = 0;
        m_validator.clear();
    }

    win::Shared<Attempt> attempt(new Attempt(*api, m_url, m_partial.get(), m_have, m_validator,
                                                  m_expected));
    if (!attempt->Start()) return DownloadOutcome::Failed;
    // However Run is left (a progress callback that throws included), the thread's say over the
    // file ends first.
    Attempt::LetGoOnExit letGo(attempt.get());
    Attempt::Result result;
    Attempt::Result reported = attempt->Snapshot();
    DWORD lastByte = ::GetTickCount();
    for (;;) {
        if (attempt->FinishedBy(win::Deadline(kPollMs))) {
            result = attempt->Snapshot();
            break;
        }
        const Attempt::Result now = attempt->Snapshot();
        if (now.have != reported.have) lastByte = ::GetTickCount();
        if (now.have != reported.have || now.total != reported.total) {
            reported = now;
            if (progress) progress(now.have, now.total);
        }
        if (stop && *stop) {
            result = attempt->LetGo(DownloadOutcome::Stopped);
            break;
        }
        if (::GetTickCount() - lastByte >= g_stallLimitMs) {
            result = attempt->LetGo(DownloadOutcome::Stalled);
            break;
        }
    }
    m_have = result.have;
    m_total = result.total;
    m_validator = result.validator;

    if (progress && (m_have != reported.have || m_total != reported.total))
        progress(m_have, m_total);
    if (result.outcome == DownloadOutcome::Stored) {
        // The stored size held against what arrived: a disk that filled on the way must not
        // pass for a whole file.
        if (FileSize(m_partial.get()) != m_have || !SetDeleteOnClose(m_partial.get(), false)) {
            ForgetPartial();
            return DownloadOutcome::Failed;
        }
        m_partial.reset();
        m_stored = true;
        return DownloadOutcome::Stored;
    }
    const bool interrupted = result.cut || result.outcome == DownloadOutcome::Stalled ||
                             result.outcome == DownloadOutcome::Stopped;
    if (!interrupted || m_validator.empty() || m_have == 0) ForgetPartial();
    return result.outcome;
}

bool FetchControlFile(const std::wstring& url, const Deadline& deadline, std::vector<char>* body)
{
    body->clear();
    if (!::PathIsURLW(url.c_str()) || !rules::IsWebUrl(url) || !deadline.RemainingMs())
        return false;
    const win::WinInetCalls* api = FetchCalls();
    if (!api) return false;
    // The fetch neither reads nor writes the cache; an entry an earlier program left goes too.
    api->DeleteUrlCacheEntryW(url.c_str());
    win::Shared<ControlFetchJob> job(new ControlFetchJob(*api, url));
    if (!job->RunBefore(deadline) || !job->result) return false;
    *body = job->body;
    return true;
}

}  // namespace sys
