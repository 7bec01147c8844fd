#include "sys/control_fetch.h"

#include <shlwapi.h>

#include "rules/names.h"
#include "sys/http_session.h"
#include "win/trail.h"
#include "rules/wstr.h"

namespace sys {
namespace {

class ControlFetchJob : public win::DeadlineJob {
public:
    explicit ControlFetchJob(const std::wstring& url) : m_url(url) {}
    bool result = false;
    std::vector<char> body;  // narrow std::string would add a whole runtime object

private:
    void Run() override
    {
        const HttpSession session;
        if (!session) return;
        const HttpAnswer answer = session.Open(m_url, std::wstring());
        if (answer.fault != NetFault::None) {
            win::Trail(L"control file: " + std::wstring(FaultName(answer.fault)));
            return;
        }
        if (answer.status != HTTP_STATUS_OK) {
            win::Trail(L"control file: status " + rules::Decimal(answer.status));
            return;
        }
        result = ReadWholeBody(session, answer.request.get());
    }

    // The whole body, within the limit; a body shorter than its Content-Length is cut short.
    bool ReadWholeBody(const HttpSession& session, HINTERNET request)
    {
        unsigned long declared = 0;
        const bool hasLength = session.Number(request, HTTP_QUERY_CONTENT_LENGTH, &declared);
        if (hasLength && declared > kControlFileLimit) return false;
        char chunk[4096];
        for (;;) {
            DWORD got = 0;
            if (!session.api().InternetReadFile(request, chunk, sizeof chunk, &got)) return false;
            if (got == 0) break;
            body.insert(body.end(), chunk, chunk + got);
            if (body.size() > kControlFileLimit) return false;
        }
        return !hasLength || body.size() == declared;
    }

    const std::wstring m_url;
};

}  // namespace

bool FetchControlFile(const std::wstring& url, const win::Deadline& deadline,
                      std::vector<char>* body)
{
    body->clear();
    if (!::PathIsURLW(url.c_str()) || !rules::IsWebUrl(url) || !deadline.RemainingMs())
        return false;
    // The fetch neither reads nor writes the cache; an entry an earlier program left goes too.
    ForgetCachedCopy(url);
    win::Shared<ControlFetchJob> job(new ControlFetchJob(url));
    if (!job->RunBefore(deadline) || !job->result) return false;
    *body = job->body;
    return true;
}

}  // namespace sys
