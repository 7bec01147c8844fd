#include "sys/http_session.h"

#include "rules/names.h"
#include "win/trail.h"
#include "rules/wstr.h"

namespace sys {
namespace {

// Straight from the server every time, nothing of it left in the cache, no prompt of any kind
// (a proxy's 407 or a certificate fault ends the fetch), and every redirect judged by us.
const DWORD kFetchFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                          INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                          INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

// The WinINet calls a fetch makes; null when the system lacks one of them.
const win::WinInetCalls* FetchCalls()
{
    const win::WinInetCalls& api = win::WinInet();
    return win::Present(api.InternetGetConnectedState, api.InternetCheckConnectionW,
                        api.InternetOpenW, api.InternetOpenUrlW, api.HttpQueryInfoW,
                        api.InternetReadFile, api.InternetQueryDataAvailable,
                        api.InternetCombineUrlW, api.InternetQueryOptionW, api.InternetCloseHandle,
                        api.DeleteUrlCacheEntryW)
               ? &api
               : nullptr;
}

// The certificate fault behind a failed https request. Nothing asks WinINet to overlook any.
NetFault FaultOfError(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_INVALID_CA: return NetFault::CertUnknownRoot;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID: return NetFault::CertWrongName;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return NetFault::CertExpired;
    case ERROR_INTERNET_SEC_CERT_REVOKED: return NetFault::CertRevoked;
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED: return NetFault::CertInvalid;
    default: return NetFault::NoConnection;
    }
}

}  // namespace

HttpSession::HttpSession() : m_api(FetchCalls())
{
    if (m_api)
        m_session.reset(
            m_api->InternetOpenW(L"Morvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

bool HttpSession::UsesProxy() const
{
    // The structure is followed by the strings it points to.
    union {
        INTERNET_PROXY_INFO info;
        char bytes[4096];
    } proxy;
    DWORD size = sizeof proxy;
    return m_api->InternetQueryOptionW(m_session.get(), INTERNET_OPTION_PROXY, &proxy, &size) &&
           proxy.info.dwAccessType == INTERNET_OPEN_TYPE_PROXY;
}

std::wstring HttpSession::Header(HINTERNET request, DWORD query) const
{
    // Room for the longest URL a Location may carry.
    wchar_t text[INTERNET_MAX_URL_LENGTH];
    DWORD size = sizeof text;
    if (!m_api->HttpQueryInfoW(request, query, text, &size, nullptr)) return std::wstring();
    return std::wstring(text, size / sizeof(wchar_t));
}

bool HttpSession::Number(HINTERNET request, DWORD query, unsigned long* value) const
{
    DWORD number = 0;
    DWORD size = sizeof number;
    if (!m_api->HttpQueryInfoW(request, query | HTTP_QUERY_FLAG_NUMBER, &number, &size, nullptr))
        return false;
    *value = number;
    return true;
}

HttpAnswer HttpSession::Open(std::wstring url, const std::wstring& headers) const
{
    HttpAnswer answer;
    const bool secure = rules::IsHttpsUrl(url);
    for (int hop = 0; hop <= kMaxRedirects; ++hop) {
        // Every hop, the first included: a redirect to a file, a share or another scheme would
        // have the elevated program take something local for what it fetched.
        if (!rules::IsWebUrl(url)) {
            answer.fault = NetFault::BadRedirect;
            return answer;
        }
        if (secure && !rules::IsHttpsUrl(url)) {
            win::Trail(L"network: redirect from https to " + url + L" refused");
            answer.fault = NetFault::InsecureRedirect;
            return answer;
        }
        PreloadHttpsHelpers(url);
        win::InternetHandle request(m_api->InternetOpenUrlW(
            m_session.get(), url.c_str(), headers.empty() ? nullptr : headers.c_str(),
            static_cast<DWORD>(headers.size()), kFetchFlags, 0));
        if (!request) {
            const DWORD error = ::GetLastError();
            answer.fault = FaultOfError(error);
            win::Trail(L"network: " + std::wstring(FaultName(answer.fault)) + L" (WinINet error " +
                       rules::Decimal(error) + L")");
            return answer;
        }
        unsigned long status = 0;
        if (!Number(request.get(), HTTP_QUERY_STATUS_CODE, &status)) {
            answer.fault = NetFault::ServerError;
            return answer;
        }
        if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
            answer.fault = NetFault::ProxyAuth;
            return answer;
        }
        if (!IsRedirectStatus(status)) {
            answer.request = std::move(request);
            answer.status = status;
            answer.fault = NetFault::None;
            return answer;
        }
        // The Location header resolved against the URL it came from.
        const std::wstring location = Header(request.get(), HTTP_QUERY_LOCATION);
        wchar_t combined[INTERNET_MAX_URL_LENGTH];
        DWORD length = INTERNET_MAX_URL_LENGTH;
        if (location.empty() || !m_api->InternetCombineUrlW(url.c_str(), location.c_str(), combined,
                                                            &length, ICU_NO_ENCODE)) {
            answer.fault = NetFault::BadRedirect;
            return answer;
        }
        url.assign(combined, length);
    }
    answer.fault = NetFault::BadRedirect;
    return answer;
}

void PreloadHttpsHelpers(const std::wstring& url)
{
    if (rules::IsHttpsUrl(url)) win::PreloadSystemLibraries(win::OnDemand::Https);
}

void ForgetCachedCopy(const std::wstring& url)
{
    const win::WinInetCalls& api = win::WinInet();
    if (api.DeleteUrlCacheEntryW) api.DeleteUrlCacheEntryW(url.c_str());
}

}  // namespace sys
