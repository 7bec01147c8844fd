// The thread kit (win/thread.h) on the real threads, pool and COM of the system.
#include <gtest/gtest.h>
#include <objbase.h>

#include <memory>

#include "win/thread.h"

namespace {

const DWORD kPatienceMs = 10000;

// What a body of a win::Thread saw and did.
struct Body {
    win::Thread* thread = nullptr;
    win::Event entered;
    win::Event release;  // set by the test to let a blocked body end
    volatile LONG threadId = 0;
    volatile LONG sawStop = 0;
    volatile LONG finished = 0;
    HWND window = nullptr;  // when set, the body sends it a message before it ends

    void Record()
    {
        ::InterlockedExchange(&threadId, static_cast<LONG>(::GetCurrentThreadId()));
        entered.Set();
    }
    void Finish() { ::InterlockedExchange(&finished, 1); }

    void RunsToItsEnd()
    {
        Record();
        Finish();
    }
    // Waits for the stop event alone, as the animation's holds do.
    void WaitsForTheStop()
    {
        Record();
        ::WaitForSingleObject(thread->StopEvent(), INFINITE);
        ::InterlockedExchange(&sawStop, thread->StopRequested() ? 1 : 0);
        Finish();
    }
    // Blocks until the test releases it, stop or no stop.
    void BlocksUntilReleased()
    {
        Record();
        release.WaitFor(INFINITE);
        Finish();
    }
    // Ends only once the starter's thread has answered a sent message.
    void SendsToTheWindow()
    {
        Record();
        ::SendMessageW(window, WM_NULL, 0, 0);
        Finish();
    }
};

TEST(Thread, RunsItsBodyElsewhereAndStartsAgainOnlyOnceJoined)
{
    win::Thread thread;
    Body body;
    body.thread = &thread;
    EXPECT_TRUE(thread.JoinAnswering(0)) << "nothing started: nothing to wait for";
    ASSERT_TRUE((thread.Start<Body, &Body::RunsToItsEnd>(&body)));
    ASSERT_TRUE(body.entered.WaitFor(kPatienceMs));
    EXPECT_NE(static_cast<DWORD>(body.threadId), ::GetCurrentThreadId());
    EXPECT_FALSE((thread.Start<Body, &Body::RunsToItsEnd>(&body))) << "a second one while held";

    // Ended by itself, it is still held until joined.
    for (int i = 0; i < 100 && !thread.Ended(); ++i) ::Sleep(50);
    EXPECT_TRUE(thread.Ended());
    EXPECT_TRUE(thread.Started());
    ASSERT_TRUE(thread.JoinAnswering(kPatienceMs));
    EXPECT_FALSE(thread.Started());
    EXPECT_EQ(thread.get(), nullptr);

    Body again;
    again.thread = &thread;
    ASSERT_TRUE((thread.Start<Body, &Body::RunsToItsEnd>(&again)));
    thread.Join();
    EXPECT_EQ(again.finished, 1);
}

TEST(Thread, AStopCutsTheWaitShortAndIsWithdrawnByTheJoin)
{
    win::Thread thread;
    ASSERT_NE(thread.StopEvent(), nullptr);
    for (int round = 0; round < 2; ++round) {
        Body body;
        body.thread = &thread;
        ASSERT_TRUE((thread.Start<Body, &Body::WaitsForTheStop>(&body))) << round;
        ASSERT_TRUE(body.entered.WaitFor(kPatienceMs));
        // Not stopped yet: a withdrawn request of the first round must not end the second.
        EXPECT_FALSE(thread.JoinAnswering(200)) << round;
        EXPECT_EQ(body.finished, 0) << round;
        thread.RequestStop();
        ASSERT_TRUE(thread.JoinAnswering(kPatienceMs)) << round;
        EXPECT_EQ(body.sawStop, 1) << round;
        EXPECT_FALSE(thread.StopRequested()) << round;
        EXPECT_EQ(::WaitForSingleObject(thread.StopEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }
}

TEST(Thread, WithoutAStopEventTheRequestIsStillSeen)
{
    win::Thread thread(false);
    EXPECT_EQ(thread.StopEvent(), nullptr);
    thread.RequestStop();
    EXPECT_TRUE(thread.StopRequested());
    thread.Join();
    EXPECT_FALSE(thread.StopRequested());
}

TEST(Thread, JoiningAnswersWhatTheThreadSendsToTheJoinersWindow)
{
    // A window of the joining thread; the body cannot end before it has been answered, so a
    // join that does not answer would wait for ever.
    const HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                          nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    {
        win::Thread thread;
        Body body;
        body.thread = &thread;
        body.window = window;
        ASSERT_TRUE((thread.Start<Body, &Body::SendsToTheWindow>(&body)));
        EXPECT_TRUE(thread.JoinAnswering(kPatienceMs));
        EXPECT_EQ(body.finished, 1);
    }
    ::DestroyWindow(window);
}

TEST(Thread, TheOwnerWaitsForABodyThatIgnoresTheStop)
{
    Body body;
    {
        win::Thread thread;
        body.thread = &thread;
        ASSERT_TRUE((thread.Start<Body, &Body::BlocksUntilReleased>(&body)));
        ASSERT_TRUE(body.entered.WaitFor(kPatienceMs));
        thread.RequestStop();
        EXPECT_FALSE(thread.JoinAnswering(300)) << "a join must not give up the wait as ended";
        EXPECT_TRUE(thread.Started());
        body.release.Set();
        // The destructor joins: the body is done before the object it runs on goes.
    }
    EXPECT_EQ(body.finished, 1);
}

// A worker that records where it ran and that it was freed.
struct WorkerJob {
    explicit WorkerJob(win::Event* freed) : m_freed(freed) {}
    ~WorkerJob() { m_freed->Set(); }
    void Run() { ranOn = ::GetCurrentThreadId(); }
    DWORD ranOn = 0;
    win::Event* m_freed;
};

TEST(StartWorker, TheWorkerOwnsAndFreesItsJob)
{
    win::Event freed;
    ASSERT_TRUE(win::StartWorker(std::make_unique<WorkerJob>(&freed)));
    EXPECT_TRUE(freed.WaitFor(kPatienceMs));
}

// A pool job that reports which COM apartment its thread is in, while it runs and when its
// last reference goes.
class ApartmentJob : public win::DeadlineJob {
public:
    ApartmentJob(Apartment apartment, win::Event* freed, HRESULT* atFree)
        : win::DeadlineJob(apartment), m_freed(freed), m_atFree(atFree)
    {
    }
    win::Event release;
    HRESULT whileRunning = E_FAIL;

protected:
    ~ApartmentJob() override
    {
        *m_atFree = AskForSingleThreaded();
        m_freed->Set();
    }

private:
    // RPC_E_CHANGED_MODE: the thread is in the multithreaded apartment already; S_OK: in none.
    static HRESULT AskForSingleThreaded()
    {
        const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(result)) ::CoUninitialize();
        return result;
    }
    void Run() override
    {
        whileRunning = AskForSingleThreaded();
        release.WaitFor(INFINITE);
    }

    win::Event* m_freed;
    HRESULT* m_atFree;
};

TEST(DeadlineJob, TheCallerWalksAwayAtTheDeadlineAndTheThreadFreesTheJobInItsApartment)
{
    const struct {
        win::DeadlineJob::Apartment apartment;
        HRESULT expected;
    } cases[] = {
        {win::DeadlineJob::Apartment::MultiThreaded, RPC_E_CHANGED_MODE},
        {win::DeadlineJob::Apartment::None, S_OK},
    };
    for (const auto& c : cases) {
        win::Event freed;
        HRESULT atFree = E_FAIL;
        ApartmentJob* stillRunning = nullptr;
        {
            win::Shared<ApartmentJob> job(new ApartmentJob(c.apartment, &freed, &atFree));
            const DWORD start = ::GetTickCount();
            EXPECT_FALSE(job->RunBefore(win::Deadline(300)));
            EXPECT_LT(::GetTickCount() - start, 5000u);
            EXPECT_EQ(::WaitForSingleObject(job->Done(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
            stillRunning = job.get();
        }
        // The caller's reference has gone; the thread's, held until it is released, is the last.
        EXPECT_EQ(::WaitForSingleObject(freed.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
        stillRunning->release.Set();
        ASSERT_TRUE(freed.WaitFor(kPatienceMs));
        EXPECT_EQ(atFree, c.expected) << static_cast<int>(c.apartment);
    }
}

TEST(DeadlineJob, AJobThatEndsInTimeHasItsResultsRead)
{
    win::Event freed;
    HRESULT atFree = E_FAIL;
    {
        win::Shared<ApartmentJob> job(
            new ApartmentJob(win::DeadlineJob::Apartment::MultiThreaded, &freed, &atFree));
        job->release.Set();
        ASSERT_TRUE(job->RunBefore(win::Deadline(kPatienceMs)));
        EXPECT_EQ(::WaitForSingleObject(job->Done(), 0), WAIT_OBJECT_0);
        EXPECT_EQ(job->whileRunning, RPC_E_CHANGED_MODE);
        EXPECT_EQ(::WaitForSingleObject(freed.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the caller still holds it";
    }
    EXPECT_TRUE(freed.WaitFor(kPatienceMs));
}

}  // namespace
