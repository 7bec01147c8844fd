#include "update/flow.h"

#include <memory>

#include "sys/download.h"
#include "sys/revocation.h"
#include "sys/shell.h"
#include "sys/trust.h"
#include "update/staging.h"
#include "win/com.h"
#include "win/trail.h"

namespace update {

// The package file across attempts: a cut download goes on where it stopped on Retry, and a
// partial file is ours alone until it is whole. Shared by the flow and the attempt's worker,
// so an attempt given up while it still downloads never touches a freed object. When the
// last holder lets go (the dialog closed), a partial file goes with it.
class PackageStore : public win::RefCounted {
public:
    PackageStore(const std::wstring& url, const std::wstring& file, unsigned long long size)
        : m_download(url, file, size)
    {
    }
    sys::PackageDownload& download() { return m_download; }

private:
    sys::PackageDownload m_download;
};

// What the dialog and one attempt's worker share. The phase moves forward only, by
// compare-and-swap, so Cancel and the start of the package cannot both win.
class Attempt : public win::RefCounted {
public:
    enum Phase : LONG { Downloading, Staging, Abandoned };

    Attempt(LPARAM id, HWND window) : m_id(id), m_window(window) {}

    LPARAM id() const { return m_id; }
    const volatile LONG* StopFlag() const { return &m_stop; }
    bool IsAbandoned() const { return m_phase == Abandoned; }

    bool Abandon()
    {
        ::InterlockedExchange(&m_stop, 1);
        return ::InterlockedCompareExchange(&m_phase, Abandoned, Downloading) != Staging;
    }
    // The point of no return: true when the attempt was not given up first.
    bool EnterStaging()
    {
        return ::InterlockedCompareExchange(&m_phase, Staging, Downloading) == Downloading;
    }

    void Tell(Note note) const
    {
        ::PostMessageW(m_window, WM_UPDATE_NOTE, static_cast<WPARAM>(note), m_id);
    }

    void SetProgress(unsigned long long received, unsigned long long total)
    {
        {
            win::Locked hold(m_lock);
            m_progress.received = received;
            m_progress.total = total;
        }
        // One note in flight at a time: the dialog reads the latest figures when it gets it.
        if (::InterlockedExchange(&m_progressPosted, 1) == 0) Tell(Note::Progress);
    }
    Progress TakeProgress()
    {
        ::InterlockedExchange(&m_progressPosted, 0);
        win::Locked hold(m_lock);
        return m_progress;
    }

private:
    const LPARAM m_id;
    const HWND m_window;
    volatile LONG m_phase = Downloading;
    volatile LONG m_stop = 0;
    volatile LONG m_progressPosted = 0;
    win::Lock m_lock;
    Progress m_progress;
};

namespace {

constexpr DWORD kPauseAfterWizardMs = 3000;

// A judged file whose signer has been revoked since it signed is refused; a revocation server
// that does not answer within its limit is not a refusal.
bool NotRevoked(const std::wstring& path, const win::File& judged)
{
    if (sys::CheckRevocation(path, judged.get()) != sys::Revocation::Revoked) return true;
    win::Trail(L"update: refused, the signer's certificate is revoked: " + path);
    return false;
}

// One attempt, from the download to the end of the clean-up, on a worker of its own. It holds
// its own copies of the values, so it never touches the dialog or the application.
class AttemptJob {
public:
    AttemptJob(const settings::Values& values, win::Shared<Attempt> attempt,
               win::Shared<PackageStore> package)
        : m_installation(values.installation),
          m_offer(values.offer),
          m_paths(values.update),
          m_attempt(attempt),
          m_package(package)
    {
    }

    void Run()
    {
        // No window on this thread, so a multithreaded apartment: nothing here ever has to
        // answer a message while it waits.
        win::ComApartment com(win::ComApartment::MultiThreaded);
        if (!Download()) return Fail();
        win::File judged;
        if (!Check(&judged)) return Fail();
        if (!m_attempt->EnterStaging()) {
            win::Trail(L"update: given up before the package ran");
            return;
        }
        m_attempt->Tell(Note::Checked);
        if (!Stage(std::move(judged))) return Fail();
        win::File wizard;
        if (!JudgeWizard(&wizard)) return Fail();
        m_attempt->Tell(Note::HandingOver);
        HandOver(std::move(wizard));
        m_attempt->Tell(Note::Ended);
    }

private:
    void Fail()
    {
        if (m_attempt->IsAbandoned()) return;
        m_attempt->Tell(Note::Failed);
    }

    bool Download()
    {
        win::Trail(L"download: fetching the package into " + m_paths.packageFile);
        Attempt& attempt = *m_attempt;
        const sys::DownloadOutcome outcome = m_package->download().Run(
            [&attempt](unsigned long long received, unsigned long long total) {
                attempt.SetProgress(received, total);
            },
            attempt.StopFlag());
        win::Trail(outcome == sys::DownloadOutcome::Stored
                       ? std::wstring(L"download: package stored")
                       : L"download: failed, " + std::wstring(sys::DescribeOutcome(outcome)));
        return outcome == sys::DownloadOutcome::Stored && !m_attempt->IsAbandoned();
    }

    bool Check(win::File* judged)
    {
        if (sys::VerifyPackage(m_paths.packageFile, judged) &&
            NotRevoked(m_paths.packageFile, *judged))
            return !m_attempt->IsAbandoned();
        *judged = win::File();
        // Retry fetches it again anyway, and a refused file must not wait in the temporary
        // folder under a name the network chose.
        m_package->download().Discard();
        return false;
    }

    bool Stage(win::File judged)
    {
        return ClearExtractedFolder(m_paths) && RunPackage(m_paths, std::move(judged)) &&
               CompleteExtractedFolder(m_paths, m_installation);
    }

    // The new wizard runs elevated: it is judged like the package, and a folder whose wizard
    // fails goes.
    bool JudgeWizard(win::File* judged)
    {
        if (sys::VerifyPackage(m_paths.newWizard, judged) && NotRevoked(m_paths.newWizard, *judged))
            return true;
        *judged = win::File();
        win::Trail(L"staging: the new wizard was refused; removing " + m_paths.extractedFolder);
        ClearExtractedFolder(m_paths);
        return false;
    }

    void HandOver(win::File wizard)
    {
        // The user is never left without a wizard: without the new one, the local one starts.
        if (!RunNewWizard(m_paths, m_installation, std::move(wizard))) {
            win::Trail(L"hand-over: starting the local wizard instead");
            sys::StartLocalWizard(m_installation.localWizard);
        }
        ::Sleep(kPauseAfterWizardMs);
        CleanUp(m_paths, m_offer);
    }

    const settings::Installation m_installation;
    const settings::Offer m_offer;
    const settings::UpdatePaths m_paths;
    win::Shared<Attempt> m_attempt;
    win::Shared<PackageStore> m_package;
};

}  // namespace

Flow::Flow(const settings::Values& values)
    : m_values(values),
      m_package(new PackageStore(values.offer.downloadUrl, values.update.packageFile,
                                 values.offer.packageSize))
{
}

Flow::~Flow() { Abandon(); }

bool Flow::Start(HWND window)
{
    Abandon();
    win::Shared<Attempt> attempt(new Attempt(++m_lastId, window));
    m_attempt = attempt;
    // Without a worker the dialog stays as it is; Cancel still hands over to the local wizard.
    return win::StartWorker(std::make_unique<AttemptJob>(m_values, attempt, m_package));
}

bool Flow::Abandon() { return !m_attempt || m_attempt->Abandon(); }

bool Flow::IsCurrent(LPARAM attempt) const
{
    return m_attempt && m_attempt->id() == attempt && !m_attempt->IsAbandoned();
}

void Flow::StartLocalWizard() const { sys::StartLocalWizard(m_values.installation.localWizard); }

Progress Flow::CurrentProgress() const
{
    return m_attempt ? m_attempt->TakeProgress() : Progress();
}

}  // namespace update
