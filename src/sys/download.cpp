#include "sys/download.h"

#include <windows.h>
#include <shlwapi.h>
#include <urlmon.h>

#include <string>
#include <vector>

#include "win/handles.h"
#include "win/syslib.h"
#include "win/thread.h"
#include "win/wininet.h"

namespace sys {
namespace {

using UrlDownloadToFileFn = decltype(&::URLDownloadToFileW);

// Anything bigger is not a control file, whatever the server says it is.
const DWORD kControlFileLimit = 64 * 1024;
const int kMaxRedirects = 5;
// Straight from the server every time, and nothing of it left in the cache.
const DWORD kControlFetchFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                 INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                 INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

// Work for a thread that the caller may stop waiting for. WinINet's own time-outs do not bound
// a server that accepts and never answers (or drips) under Wine, so the caller waits on `done`
// until its deadline and then walks away. The caller and the thread each hold a reference and
// the last to let go frees the job: a thread stuck past the deadline touches only the job's
// own copies, never the caller's frame.
class NetworkJob {
public:
    NetworkJob() : m_done(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    virtual ~NetworkJob() = default;
    NetworkJob(const NetworkJob&) = delete;
    NetworkJob& operator=(const NetworkJob&) = delete;

    // Runs the job on a thread of its own; false when no thread could be had.
    bool Start()
    {
        if (!m_done) return false;
        ::InterlockedIncrement(&m_refs);
        // A worker of the process's pool: the control-file fetch then runs on the thread the
        // probe has just left instead of paying for a new one.
        if (::QueueUserWorkItem(ThreadMain, this, WT_EXECUTEDEFAULT)) return m_started = true;
        Release();
        return false;
    }

    // True when the started job ran to its end before the deadline; its results may then be
    // read.
    bool FinishedBy(const Deadline& deadline) const
    {
        return m_started &&
               ::WaitForSingleObject(m_done.get(), deadline.RemainingMs()) == WAIT_OBJECT_0;
    }

    bool RunBefore(const Deadline& deadline) { return Start() && FinishedBy(deadline); }

    void Release()
    {
        if (::InterlockedDecrement(&m_refs) == 0) delete this;
    }

protected:
    virtual void Run() = 0;

private:
    static DWORD WINAPI ThreadMain(void* param)
    {
        auto* job = static_cast<NetworkJob*>(param);
        try {
            job->Run();
        } catch (...) {
        }
        ::SetEvent(job->m_done.get());
        job->Release();
        return 0;
    }

    volatile LONG m_refs = 1;  // the caller's
    win::Handle m_done;
    bool m_started = false;
};

// The caller's reference to a job, let go on every path.
template <class Job>
class JobRef {
public:
    explicit JobRef(Job* job) : m_job(job) {}
    ~JobRef() { m_job->Release(); }
    JobRef(const JobRef&) = delete;
    JobRef& operator=(const JobRef&) = delete;
    Job* operator->() const { return m_job; }

private:
    Job* m_job;
};

}  // namespace

class ServerProbe::Job : public NetworkJob {
public:
    Job(const win::WinInetApi& api, const wchar_t* url) : m_api(api), m_url(url) {}
    int result = 0;

private:
    void Run() override
    {
        DWORD flags = 0;
        if (!m_api.InternetGetConnectedState(&flags, 0)) return;
        result = m_api.InternetCheckConnectionW(m_url.c_str(), FLAG_ICC_FORCE_CONNECTION, 0) ? 1 : 0;
    }

    const win::WinInetApi m_api;
    const std::wstring m_url;
};

namespace {

bool IsHttpsUrl(const std::wstring& url) { return ::StrCmpNIW(url.c_str(), L"https:", 6) == 0; }

bool IsWebUrl(const std::wstring& url)
{
    return ::StrCmpNIW(url.c_str(), L"http://", 7) == 0 || IsHttpsUrl(url);
}

// Wine's WinINet loads its TLS helpers by name on the first https request, from the
// program's folder first; they are taken from the system folder before that.
void PreloadHttpsHelpers(const std::wstring& url)
{
    if (IsHttpsUrl(url)) win::PreloadSystemLibraries(win::OnDemand::Https);
}

class ControlFetchJob : public NetworkJob {
public:
    ControlFetchJob(const win::WinInetApi& api, const std::wstring& url) : m_api(api), m_url(url) {}
    int result = 0;
    std::vector<char> body;  // narrow std::string would add a whole runtime object

private:
    void Run() override
    {
        win::InternetHandle session(
            m_api, m_api.InternetOpenW(L"Morvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session) return;
        std::wstring url = m_url;
        for (int hop = 0; hop <= kMaxRedirects; ++hop) {
            // Every hop, the first included: a redirect to a file, a share or another scheme
            // would have the elevated program read something local as the control file.
            if (!IsWebUrl(url)) return;
            PreloadHttpsHelpers(url);
            win::InternetHandle request(m_api, m_api.InternetOpenUrlW(session.get(), url.c_str(),
                                                                      nullptr, 0,
                                                                      kControlFetchFlags, 0));
            if (!request) return;
            DWORD status = 0;
            if (!QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE, &status)) return;
            if (status == HTTP_STATUS_OK) {
                result = ReadWholeBody(request.get()) ? 1 : 0;
                return;
            }
            if (!IsRedirect(status) || !RedirectTarget(request.get(), &url)) return;
        }
    }

    static bool IsRedirect(DWORD status)
    {
        return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    }

    bool QueryNumber(HINTERNET request, DWORD query, DWORD* value) const
    {
        DWORD size = sizeof *value;
        return m_api.HttpQueryInfoW(request, query | HTTP_QUERY_FLAG_NUMBER, value, &size,
                                    nullptr) != FALSE;
    }

    // The Location header resolved against the URL it came from.
    bool RedirectTarget(HINTERNET request, std::wstring* url) const
    {
        wchar_t location[INTERNET_MAX_URL_LENGTH];
        DWORD size = sizeof location;
        if (!m_api.HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &size, nullptr))
            return false;
        wchar_t combined[INTERNET_MAX_URL_LENGTH];
        DWORD length = INTERNET_MAX_URL_LENGTH;
        if (!m_api.InternetCombineUrlW(url->c_str(), location, combined, &length, ICU_NO_ENCODE))
            return false;
        url->assign(combined, length);
        return true;
    }

    // The whole body, within the limit; a body shorter than its Content-Length is cut short.
    bool ReadWholeBody(HINTERNET request)
    {
        DWORD declared = 0;
        const bool hasLength = QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, &declared);
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

    const win::WinInetApi m_api;
    const std::wstring m_url;
};

// Counts the bytes the package download delivered. Wine's URLDownloadToFileW downloads into
// the cache and reports success even when copying that into the file failed on a full disk, so
// the stored file is held against what arrived.
class ArrivedBytes final : public IBindStatusCallback {
public:
    explicit ArrivedBytes(const DownloadProgress& progress) : m_progress(progress) {}

    bool ended = false;
    ULONG arrived = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
            *object = static_cast<IBindStatusCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = ::InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return refs;
    }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG status,
                                         LPCWSTR) override
    {
        if (status == BINDSTATUS_ENDDOWNLOADDATA) {
            ended = true;
            arrived = progress;
        }
        if ((status == BINDSTATUS_DOWNLOADINGDATA || status == BINDSTATUS_ENDDOWNLOADDATA) &&
            m_progress)
            m_progress(progress, progressMax);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

private:
    const DownloadProgress m_progress;  // a copy: urlmon may hold the callback past the call
    volatile LONG m_refs = 1;
};

bool HasSize(const std::wstring& path, ULONG size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
           data.nFileSizeHigh == 0 && data.nFileSizeLow == size;
}

// Writes `data` as the whole of `path`; on any failure nothing is left there.
bool WriteWholeFile(const std::wstring& path, const std::vector<char>& data)
{
    bool written = false;
    {
        win::File file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD done = 0;
        written = data.empty() || (::WriteFile(file.get(), data.data(),
                                               static_cast<DWORD>(data.size()), &done, nullptr) &&
                                   done == data.size());
    }
    if (!written) ::DeleteFileW(path.c_str());
    return written;
}

}  // namespace

Deadline::Deadline(unsigned long budgetMs) : m_start(::GetTickCount()), m_budgetMs(budgetMs) {}

unsigned long Deadline::RemainingMs() const
{
    const DWORD elapsed = ::GetTickCount() - m_start;
    return elapsed < m_budgetMs ? m_budgetMs - elapsed : 0;
}

ServerProbe::ServerProbe(const wchar_t* url)
{
    win::WinInetApi api;
    if (!win::BindWinInet(&api)) return;
    m_job = new Job(api, url);
    m_job->Start();
}

ServerProbe::~ServerProbe()
{
    if (m_job) m_job->Release();
}

int ServerProbe::Result(const Deadline& deadline) const
{
    return m_job && m_job->FinishedBy(deadline) ? m_job->result : 0;
}

int IsServerReachable(const wchar_t* url, const Deadline& deadline)
{
    return ServerProbe(url).Result(deadline);
}

int DownloadToFile(const std::wstring& url, const std::wstring& localPath,
                   const Deadline& deadline)
{
    if (!::PathIsURLW(url.c_str()) || !IsWebUrl(url)) return 0;
    if (localPath.size() >= MAX_PATH) return 0;
    wchar_t folder[MAX_PATH];
    lstrcpynW(folder, localPath.c_str(), MAX_PATH);
    if (!::PathRemoveFileSpecW(folder)) return 0;
    if (!::PathIsDirectoryW(folder)) return 0;

    if (!deadline.RemainingMs()) return 0;
    win::WinInetApi api;
    if (!win::BindWinInet(&api)) return 0;
    // The fetch neither reads nor writes the cache; an entry an earlier program left goes too.
    api.DeleteUrlCacheEntryW(url.c_str());
    JobRef<ControlFetchJob> job(new ControlFetchJob(api, url));
    if (!job->RunBefore(deadline) || !job->result) return 0;
    return WriteWholeFile(localPath, job->body) ? 1 : 0;
}

int DownloadPackageFile(const std::wstring& url, const std::wstring& file,
                        const DownloadProgress& progress)
{
    auto download = win::SystemFunction<UrlDownloadToFileFn>(L"urlmon.dll", "URLDownloadToFileW");
    if (!download) return 0;
    PreloadHttpsHelpers(url);
    win::WinInetApi api;
    // Never take the package from an earlier cached copy.
    if (win::BindWinInet(&api)) api.DeleteUrlCacheEntryW(url.c_str());
    auto* arrived = new ArrivedBytes(progress);
    const bool stored = download(nullptr, url.c_str(), file.c_str(), 0, arrived) >= 0 &&
                        (!arrived->ended || HasSize(file, arrived->arrived));
    arrived->Release();
    if (stored) return 1;
    // A failed download (a disk that filled on the way among them) leaves no partial file.
    ::DeleteFileW(file.c_str());
    return 0;
}

}  // namespace sys
