// The network's rules that need no network: which answers are redirects, how a resumed answer
// must read, which validator a resume may carry, the limits, and one name for every way a
// fetch can fail. Portable, with native table tests and a fuzz target for the header parsing;
// the WinINet code (sys/http_session, sys/package_download) asks them.
#pragma once
#include <cstddef>
#include <string>

namespace sys {

// Every way a fetch ends other than with what it asked for.
enum class NetFault {
    None,              // the answer (or the whole file) is here
    NoConnection,      // no answer: no network, the name unknown, refused, reset, timed out
    ServerError,       // an answer that is not the file: another status, no status
    ProxyAuth,         // the proxy asks for credentials (407); none are offered
    CertUnknownRoot,   // the https server's certificate: from an unknown authority
    CertWrongName,     //   for another name
    CertExpired,       //   out of its dates
    CertRevoked,       //   revoked
    CertInvalid,       //   otherwise not valid
    InsecureRedirect,  // a fetch begun on https sent to another scheme
    BadRedirect,       // to something not a web URL, without a target, or too many
    Cut,               // the body ended before its length
    Stalled,           // no byte arrived for the stall limit
    DiskFull,          // the file could not be written
    WrongSize,         // another size than Size= says, or more than the limit allows
    Stopped,           // the caller asked it to stop
};

// For the trail: "no connection", "certificate wrong name"...
const wchar_t* FaultName(NetFault fault);

constexpr int kMaxRedirects = 5;
// Anything bigger is not a control file, whatever the server says it is.
constexpr size_t kControlFileLimit = 64 * 1024;

// The most a package may be without Size=: twice the packer's largest payload, so no real
// package reaches it, while a server (or a man in the middle) that sends without end stops
// long before the disk is full.
constexpr unsigned long long kPackageLimitBytes = 2ull << 30;

// What a package download may take; the caller passes them in (tests shorten them).
struct DownloadLimits {
    unsigned long stallMs = 30000;         // no byte for this long ends the attempt
    unsigned long long expectedBytes = 0;  // Size= of the control file, 0 when not given
    unsigned long long maxBytes = kPackageLimitBytes;  // the bound without Size=
};

// Whether an announced whole-file length (0: none announced) may be the package's: Size=
// exactly when the control file gives it, else no more than the limit.
bool IsLengthAllowed(unsigned long long total, const DownloadLimits& limits);

// 301, 302, 303, 307 and 308: the answers whose Location we judge and follow ourselves.
bool IsRedirectStatus(unsigned long status);

// A decimal number of at most 19 digits that makes up the whole of `text`.
bool ParseCount(const std::wstring& text, unsigned long long* value);

// "bytes FIRST-LAST/TOTAL" of an answer to "Range: bytes=<first>-": true with TOTAL when it
// starts exactly at `first` and runs to the end of the file.
bool ParseContentRange(const std::wstring& range, unsigned long long first,
                       unsigned long long* total);

// The validator If-Range may carry: a strong ETag, else Last-Modified; empty: no resume.
std::wstring ResumeValidator(const std::wstring& etag, const std::wstring& lastModified);

// The request headers that ask for the rest of a file of which `have` bytes arrived; empty
// when nothing arrived (the whole file is asked for).
std::wstring RangeHeaders(unsigned long long have, const std::wstring& validator);

}  // namespace sys
