// The threading kit: workers that own their job, an event, a lock and a reference count.
#pragma once
#include <windows.h>

#include <memory>

#include "win/handles.h"

namespace win {

using ThreadProc = unsigned(__stdcall*)(void*);

// Starts `proc(param)` at normal priority with the default stack and forgets the thread:
// its handle is closed at once, so the thread's resources go when it ends.
// false when no thread could be created.
bool StartDetachedThread(ThreadProc proc, void* param);

// Runs `job->Run()` on a new detached thread that owns the job and frees it at its end; an
// exception the job lets out ends the job, never the thread's caller. false (and the job
// freed) when no thread could be made. Nobody waits for or joins the worker.
template <class Job>
bool StartWorker(std::unique_ptr<Job> job)
{
    struct Entry {
        static unsigned __stdcall Main(void* param)
        {
            std::unique_ptr<Job> owned(static_cast<Job*>(param));
            owned->Run();
            return 0;
        }
    };
    if (!StartDetachedThread(&Entry::Main, job.get())) return false;
    job.release();
    return true;
}

// Waits up to `ms` (or INFINITE) for `object` while answering the messages other threads send
// to this one, so a thread with windows never holds up a program that broadcasts with
// SendMessage. Posted messages and input stay queued. true when `object` was signalled.
bool WaitAnswering(HANDLE object, DWORD ms);

// A manual-reset event.
class Event {
public:
    Event() : m_handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    explicit operator bool() const { return m_handle.valid(); }
    void Set() const { ::SetEvent(m_handle.get()); }
    // true when the event was set within `ms` milliseconds.
    bool WaitFor(DWORD ms) const
    {
        return ::WaitForSingleObject(m_handle.get(), ms) == WAIT_OBJECT_0;
    }
    HANDLE get() const { return m_handle.get(); }

private:
    Handle m_handle;
};

// A request to stop, made once by one thread and seen by others: the one cancellation signal
// of an update attempt, from the dialog's Cancel to the download's loop.
class StopFlag {
public:
    StopFlag() = default;
    StopFlag(const StopFlag&) = delete;
    StopFlag& operator=(const StopFlag&) = delete;
    void Request() { ::InterlockedExchange(&m_requested, 1); }
    bool IsRequested() const { return ::InterlockedCompareExchange(&m_requested, 0, 0) != 0; }

private:
    mutable volatile LONG m_requested = 0;
};

// A lock for a few instructions' worth of shared state.
class Lock {
public:
    Lock() { ::InitializeCriticalSection(&m_section); }
    ~Lock() { ::DeleteCriticalSection(&m_section); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Enter() { ::EnterCriticalSection(&m_section); }
    void Leave() { ::LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class Locked {
public:
    explicit Locked(Lock& lock) : m_lock(lock) { m_lock.Enter(); }
    ~Locked() { m_lock.Leave(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    Lock& m_lock;
};

// An object shared by threads that may outlive one another: each holder keeps a reference,
// and the last to let go frees it. Derive, and hold it through Shared<T>.
class RefCounted {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;
    void AddRef() { ::InterlockedIncrement(&m_refs); }
    void Release()
    {
        if (::InterlockedDecrement(&m_refs) == 0) delete this;
    }

protected:
    virtual ~RefCounted() = default;

private:
    volatile LONG m_refs = 1;
};

// One holder's reference: takes the creator's reference on construction from `new`, or adds
// one when copied.
template <class T>
class Shared {
public:
    Shared() = default;
    explicit Shared(T* adopted) : m_object(adopted) {}
    Shared(const Shared& other) : m_object(other.m_object)
    {
        if (m_object) m_object->AddRef();
    }
    Shared& operator=(Shared other)
    {
        T* mine = m_object;
        m_object = other.m_object;
        other.m_object = mine;
        return *this;
    }
    ~Shared()
    {
        if (m_object) m_object->Release();
    }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    T* get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T* m_object = nullptr;
};

// A moment by which a caller stops waiting, counted from construction. Tick arithmetic wraps
// like the tick count itself, so it holds across the 49-day wrap.
class Deadline {
public:
    explicit Deadline(unsigned long budgetMs) : m_start(::GetTickCount()), m_budgetMs(budgetMs) {}
    // Milliseconds left, 0 once the moment has passed.
    unsigned long RemainingMs() const
    {
        const DWORD elapsed = ::GetTickCount() - m_start;
        return elapsed < m_budgetMs ? m_budgetMs - elapsed : 0;
    }

private:
    unsigned long m_start;
    unsigned long m_budgetMs;
};

// Work for a pool thread that the caller may stop waiting for at a deadline. WinINet's own
// time-outs do not bound a server that accepts and never answers (or drips) under Wine, so the
// caller waits until its deadline and then walks away. The caller and the thread each hold a
// reference (hold the job in a Shared), and the last to let go frees it: a thread stuck past
// the deadline touches only the job's own copies, never the caller's frame.
class DeadlineJob : public RefCounted {
public:
    DeadlineJob() = default;

    // Runs the job on a thread of the process's pool (so a second job takes the thread the
    // first has just left instead of paying for a new one); false when none could be had.
    bool Start();

    // True when the started job ran to its end before the deadline; its results may then be
    // read.
    bool FinishedBy(const Deadline& deadline) const
    {
        return m_started && m_done.WaitFor(deadline.RemainingMs());
    }

    bool RunBefore(const Deadline& deadline) { return Start() && FinishedBy(deadline); }

protected:
    virtual void Run() = 0;

private:
    static DWORD WINAPI ThreadMain(void* param);

    Event m_done;
    bool m_started = false;
};

}  // namespace win
