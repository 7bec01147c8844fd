#include "win/thread.h"

#include <optional>

#include "win/com.h"

namespace win {

bool Thread::JoinAnswering(DWORD ms)
{
    if (m_thread && !WaitAnswering(m_thread.get(), ms) && !Ended()) return false;
    Forget();
    return true;
}

bool DeadlineJob::Start()
{
    if (!m_done) return false;
    AddRef();  // the thread's
    if (::QueueUserWorkItem(ThreadMain, this, WT_EXECUTEDEFAULT)) return m_started = true;
    Release();
    return false;
}

DWORD WINAPI DeadlineJob::ThreadMain(void* param)
{
    auto* job = static_cast<DeadlineJob*>(param);
    std::optional<ComApartment> apartment;
    if (job->m_apartment == Apartment::MultiThreaded)
        apartment.emplace(ComApartment::MultiThreaded);
    job->Run();
    job->m_done.Set();
    job->Release();
    return 0;
}

bool WaitAnswering(HANDLE object, DWORD ms)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        const DWORD elapsed = ::GetTickCount() - start;
        const DWORD left = ms == INFINITE ? INFINITE : (elapsed < ms ? ms - elapsed : 0);
        const DWORD woke = ::MsgWaitForMultipleObjects(1, &object, FALSE, left, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0) return true;
        if (woke != WAIT_OBJECT_0 + 1) return false;
        // Peeking runs the sent messages waiting for this thread; it removes nothing.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace win
