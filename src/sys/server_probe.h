// The connectivity probe of the vendor's support server.
#pragma once
#include "win/handles.h"
#include "win/thread.h"

namespace sys {

// The probe of the server at `url`, begun at construction on a thread of its own, so that the
// caller can get on with work nobody outside sees while it runs.
class ServerProbe {
public:
    explicit ServerProbe(const wchar_t* url);
    ~ServerProbe();
    ServerProbe(const ServerProbe&) = delete;
    ServerProbe& operator=(const ServerProbe&) = delete;
    // True when the machine reports a connection and the server answers a forced connection
    // check before the deadline; false otherwise. Waits at most until the deadline.
    bool Result(const win::Deadline& deadline) const;

private:
    class Job;
    win::Shared<Job> m_job;
};

// The probe begun and waited for in one call.
bool IsServerReachable(const wchar_t* url, const win::Deadline& deadline);

}  // namespace sys
