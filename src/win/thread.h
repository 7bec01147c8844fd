// The threading kit, the only place threads are made: a worker that owns its job, a joinable
// thread with a stop request, a job for a pool thread bounded by a deadline; and the event,
// lock, reference count and waits they share.
#pragma once
#include <windows.h>
#include <process.h>

#include <atomic>
#include <memory>

#include "win/handles.h"

namespace win {

using ThreadProc = unsigned(__stdcall*)(void*);

namespace detail {
// The kit's one way to make a thread: `proc(param)` at normal priority with the default stack,
// created suspended and resumed only once its handle is held, so the starter owns the handle
// before the thread can run. An empty handle when no thread could be made (or resumed: then
// it never ran and was ended). Inline, like the rest of the kit a windowless program uses, so
// the extractor links none of the waits that bring user32 and COM along.
inline Handle BeginThread(ThreadProc proc, void* param)
{
    // _beginthreadex rather than CreateThread: the thread uses the C runtime.
    Handle thread(reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, proc, param, CREATE_SUSPENDED, nullptr)));
    if (thread && ::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        // It never ran, so it holds nothing of the caller's.
        ::TerminateThread(thread.get(), 0);
        thread.reset();
    }
    return thread;
}
}  // namespace detail

// Runs `job->Run()` on a new detached thread that owns the job and frees it at its end. false
// (and the job freed) when no thread could be made. Nobody waits for or joins the worker.
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
    // The thread's handle goes at once: its resources go when it ends.
    if (!detail::BeginThread(&Entry::Main, job.get())) return false;
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

// A request to stop, made by one thread and seen by others: the one cancellation signal of an
// update attempt, from the dialog's Cancel to the download's loop, and of a win::Thread.
class StopFlag {
public:
    StopFlag() = default;
    StopFlag(const StopFlag&) = delete;
    StopFlag& operator=(const StopFlag&) = delete;
    void Request() { m_requested = true; }
    bool IsRequested() const { return m_requested; }
    // Only when nobody still looks at it: a joined thread's, before the next start.
    void Withdraw() { m_requested = false; }

private:
    std::atomic<bool> m_requested{false};
};

// A thread that its starter joins, with a request to stop: the thread reads StopRequested()
// between its steps and waits on StopEvent() beside whatever it waits for, so that a stop cuts
// its waits short. The object it runs on must outlive it: the owner requests the stop and joins
// before letting that object go. The destructor does both with a plain wait, so an owner with
// windows joins with JoinAnswering first.
class Thread {
public:
    Thread() : Thread(true) {}
    // `withStopEvent` false: no event (StopEvent() is null), for a thread that never waits,
    // or as when the event cannot be made: then the thread's waits cannot be cut short.
    explicit Thread(bool withStopEvent)
        : m_stopEvent(withStopEvent ? ::CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr)
    {
    }
    ~Thread()
    {
        RequestStop();
        Join();
    }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Runs `(object->*Body)()` on a new thread. false when one was started and not yet joined
    // (ended or not), or when no thread could be made.
    template <class T, void (T::*Body)()>
    bool Start(T* object)
    {
        struct Entry {
            static unsigned __stdcall Main(void* param)
            {
                (static_cast<T*>(param)->*Body)();
                return 0;
            }
        };
        if (m_thread) return false;
        m_thread = detail::BeginThread(&Entry::Main, object);
        return m_thread.valid();
    }

    void RequestStop()
    {
        m_stop.Request();
        if (m_stopEvent) ::SetEvent(m_stopEvent.get());
    }
    // On the thread: whether to stop now.
    bool StopRequested() const { return m_stop.IsRequested(); }
    // Set by RequestStop; null when the thread was made without one.
    HANDLE StopEvent() const { return m_stopEvent.get(); }

    // Started and not yet joined (it may have ended by itself).
    bool Started() const { return m_thread.valid(); }
    // Started, and ended by itself or after a stop; not yet joined.
    bool Ended() const
    {
        return m_thread && ::WaitForSingleObject(m_thread.get(), 0) == WAIT_OBJECT_0;
    }
    HANDLE get() const { return m_thread.get(); }

    // Waits up to `ms` for the thread's end, answering the messages other threads send to this
    // one (win::WaitAnswering), for a joiner that owns windows. Once it has ended, its handle
    // goes and the stop request is withdrawn, so that it can be started again: true then, and
    // at once when none was started.
    bool JoinAnswering(DWORD ms);
    // The same without a time limit, with a plain wait: for a joiner that owns no window.
    void Join()
    {
        if (m_thread) ::WaitForSingleObject(m_thread.get(), INFINITE);
        Forget();
    }

private:
    void Forget()
    {
        m_thread.reset();
        m_stop.Withdraw();
        if (m_stopEvent) ::ResetEvent(m_stopEvent.get());
    }

    Handle m_thread;
    Handle m_stopEvent;
    StopFlag m_stop;
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
    void AddRef() { ++m_refs; }
    void Release()
    {
        if (--m_refs == 0) delete this;
    }

protected:
    virtual ~RefCounted() = default;

private:
    std::atomic<long> m_refs{1};
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

// Work for a pool thread that the caller may stop waiting for at a deadline, or at a stop of
// its own. WinINet's own time-outs do not bound a server that accepts and never answers (or
// drips) under Wine, and a picture decoder cannot be interrupted, so the caller waits until its
// deadline and then walks away. The caller and the thread each hold a reference (hold the job
// in a Shared), and the last to let go frees it: a thread stuck past the deadline touches only
// the job's own copies, never the caller's frame.
class DeadlineJob : public RefCounted {
public:
    // What the pool thread is for the job: a plain thread, or one in the process's
    // multithreaded COM apartment for a job that makes COM objects. The apartment lasts until
    // the thread has let its reference go, so whatever the job made is released inside it
    // when the caller walked away.
    enum class Apartment { None, MultiThreaded };

    explicit DeadlineJob(Apartment apartment = Apartment::None) : m_apartment(apartment) {}

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

    // Set when the started job has ended, for a caller that waits for it beside other events.
    HANDLE Done() const { return m_done.get(); }

protected:
    virtual void Run() = 0;

private:
    static DWORD WINAPI ThreadMain(void* param);

    Event m_done;
    const Apartment m_apartment;
    bool m_started = false;
};

}  // namespace win
