#include "sys/http_rules.h"

#include "rules/wstr.h"

namespace sys {

const wchar_t* FaultName(NetFault fault)
{
    switch (fault) {
    case NetFault::None: return L"none";
    case NetFault::NoConnection: return L"no connection";
    case NetFault::ServerError: return L"server error";
    case NetFault::ProxyAuth: return L"proxy refused";
    case NetFault::CertUnknownRoot: return L"certificate refused, unknown root";
    case NetFault::CertWrongName: return L"certificate refused, wrong name";
    case NetFault::CertExpired: return L"certificate refused, expired";
    case NetFault::CertRevoked: return L"certificate refused, revoked";
    case NetFault::CertInvalid: return L"certificate refused, invalid certificate";
    case NetFault::InsecureRedirect: return L"insecure redirect refused";
    case NetFault::BadRedirect: return L"redirect refused";
    case NetFault::Cut: return L"cut";
    case NetFault::Stalled: return L"stalled";
    case NetFault::DiskFull: return L"disk full";
    case NetFault::WrongSize: return L"wrong size";
    case NetFault::Stopped: return L"stopped";
    }
    return L"failed";
}

bool IsLengthAllowed(unsigned long long total, const DownloadLimits& limits)
{
    if (total == 0) return true;  // none announced: the body is counted as it arrives
    return limits.expectedBytes ? total == limits.expectedBytes : total <= limits.maxBytes;
}

bool IsRedirectStatus(unsigned long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool ParseCount(const std::wstring& text, unsigned long long* value)
{
    // Nineteen digits at the most: a count near 2^64 is refused rather than wrapped, and so
    // are sums such as a range's last byte plus one.
    return text.size() <= 19 &&
           rules::ParseDecimal(text.data(), text.size(), 9999999999999999999ull, value);
}

bool ParseContentRange(const std::wstring& range, unsigned long long first,
                       unsigned long long* total)
{
    const size_t dash = range.find(L'-');
    const size_t slash = range.find(L'/');
    unsigned long long start = 0, last = 0;
    return range.compare(0, 6, L"bytes ") == 0 && dash != std::wstring::npos &&
           slash != std::wstring::npos && dash > 6 && dash < slash &&
           ParseCount(range.substr(6, dash - 6), &start) && start == first &&
           ParseCount(range.substr(dash + 1, slash - dash - 1), &last) &&
           ParseCount(range.substr(slash + 1), total) && last + 1 == *total && start < *total;
}

std::wstring ResumeValidator(const std::wstring& etag, const std::wstring& lastModified)
{
    // A weak ETag promises the same meaning, not the same bytes: no range may join on it.
    if (!etag.empty() && etag.compare(0, 2, L"W/") != 0) return etag;
    return lastModified;
}

std::wstring RangeHeaders(unsigned long long have, const std::wstring& validator)
{
    if (have == 0) return std::wstring();
    return L"Range: bytes=" + rules::Decimal(have) + L"-\r\nIf-Range: " + validator + L"\r\n";
}

}  // namespace sys
