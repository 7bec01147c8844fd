#include "sys/server_probe.h"

#include <string>

#include "sys/http_session.h"
#include "win/trail.h"

namespace sys {

class ServerProbe::Job : public win::DeadlineJob {
public:
    explicit Job(const wchar_t* url) : m_url(url) {}
    bool result = false;

private:
    void Run() override
    {
        const win::WinInetCalls& api = win::WinInet();
        DWORD flags = 0;
        if (!api.InternetGetConnectedState || !api.InternetGetConnectedState(&flags, 0)) return;
        const HttpSession session;
        // Behind a proxy only the proxy can tell whether the server answers: the forced
        // connection check goes to the server directly, which such networks do not let through.
        if (!session || !session.UsesProxy()) {
            result = api.InternetCheckConnectionW &&
                     api.InternetCheckConnectionW(m_url.c_str(), FLAG_ICC_FORCE_CONNECTION, 0);
            return;
        }
        const HttpAnswer answer = session.Open(m_url, std::wstring());
        if (answer.fault != NetFault::None) {
            win::Trail(L"support server through the proxy: " +
                       std::wstring(FaultName(answer.fault)));
            return;
        }
        // Any answer of the server's own will do; the proxy's gateway errors say it found none.
        result = answer.status != HTTP_STATUS_BAD_GATEWAY &&
                 answer.status != HTTP_STATUS_GATEWAY_TIMEOUT;
    }

    const std::wstring m_url;
};

ServerProbe::ServerProbe(const wchar_t* url) : m_job(new Job(url)) { m_job->Start(); }

ServerProbe::~ServerProbe() = default;

bool ServerProbe::Result(const win::Deadline& deadline) const
{
    return m_job->FinishedBy(deadline) && m_job->result;
}

bool IsServerReachable(const wchar_t* url, const win::Deadline& deadline)
{
    return ServerProbe(url).Result(deadline);
}

}  // namespace sys
