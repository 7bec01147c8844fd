// One WinINet session and the requests it opens. Every request goes through the system's proxy
// settings, never shows a credential or certificate prompt, never reads or writes the internet
// cache, and follows only redirects we judged: to web URLs only, never from https to anything
// else. WinINet is bound at run time from the system folder, like every library Morvane needs
// beyond the few Windows always takes from there.
#pragma once
#include <windows.h>

#include <string>

#include "sys/http_rules.h"
#include "win/handles.h"
#include "win/syslib.h"

namespace sys {

// What opening a URL gave: an answer that is neither a redirect nor a proxy's 407, with its
// status, or the fault that ended it.
struct HttpAnswer {
    win::InternetHandle request;
    unsigned long status = 0;
    NetFault fault = NetFault::NoConnection;
};

class HttpSession {
public:
    // A session that takes the system's proxy settings; invalid when WinINet is missing
    // anything a fetch needs, or the session cannot be opened.
    HttpSession();
    explicit operator bool() const { return m_session.valid(); }

    // True when the system's settings send this session's requests through a proxy.
    bool UsesProxy() const;

    // Opens `url` with the extra request `headers`, following its redirects.
    HttpAnswer Open(std::wstring url, const std::wstring& headers) const;

    // A header's text, or its number; empty or false when the answer has none.
    std::wstring Header(HINTERNET request, DWORD query) const;
    bool Number(HINTERNET request, DWORD query, unsigned long* value) const;

    const win::WinInetCalls& api() const { return *m_api; }

private:
    const win::WinInetCalls* m_api = nullptr;
    win::InternetHandle m_session;
};

// Wine's WinINet loads its TLS helpers by name on the first https request, from the program's
// folder first; they are taken from the system folder before that.
void PreloadHttpsHelpers(const std::wstring& url);

// Removes what an earlier program left in the internet cache for `url`; nothing we fetch is
// written there.
void ForgetCachedCopy(const std::wstring& url);

}  // namespace sys
