#include "update/flow.h"

#include <memory>
#include <vector>

#include "sys/package_download.h"
#include "sys/local_wizard.h"
#include "sys/revocation.h"
#include "sys/trust.h"
#include "rules/failure.h"
#include "rules/folders.h"
#include "update/package_check.h"
#include "update/staging.h"
#include "update/update_paths.h"
#include "update/work_folder.h"
#include "win/com.h"
#include "win/trail.h"

namespace update {

// What attempts share across Retry: the run's work folder and the package file in it, so a
// cut download goes on where it stopped. Made by the first attempt's worker; shared with the
// flow, so an attempt given up while it still downloads never touches a freed object. The
// partial package goes with the download, then the work folder with the last holder (or
// earlier, at the clean-up or the end of the run).
class UpdateStore : public win::RefCounted {
public:
    explicit UpdateStore(const settings::Offer& offer)
        : m_offer(offer), m_paths(MakeUpdatePaths(offer)), m_work(new WorkFolder)
    {
    }

    // The work folder made and the download set up in it, on the first call; true when they
    // are there.
    bool Prepare()
    {
        if (m_download) return true;
        if (!IsComplete(m_paths) || !m_work->Make()) return false;
        sys::DownloadLimits limits;
        limits.expectedBytes = m_offer.packageSize;
        m_download.reset(new sys::PackageDownload(m_offer.downloadUrl, m_work->handle(),
                                                  m_paths.packageName, limits));
        return true;
    }
    const UpdatePaths& paths() const { return m_paths; }
    const WorkFolder& work() const { return *m_work; }
    sys::PackageDownload& download() { return *m_download; }
    // Everything of the update goes: the package and the work folder with all it holds.
    void RemoveAll()
    {
        if (m_download) m_download->Discard();
        m_work->Remove();
    }

private:
    ~UpdateStore() override
    {
        m_download.reset();  // the partial package goes before its folder
        m_work->Remove();
    }

    const settings::Offer m_offer;
    const UpdatePaths m_paths;
    win::Shared<WorkFolder> m_work;
    std::unique_ptr<sys::PackageDownload> m_download;
};

// What the dialog and one attempt's worker share. The phase moves forward only, by
// compare-and-swap, so Cancel and the start of the package cannot both win.
class Attempt : public win::RefCounted {
public:
    enum Phase : LONG { Downloading, Staging, Abandoned };

    Attempt(LPARAM id, HWND window) : m_id(id), m_window(window) {}

    LPARAM id() const { return m_id; }
    // The one cancellation signal: the download's loop watches it.
    const win::StopFlag& stop() const { return m_stop; }
    bool IsAbandoned() const { return m_phase == Abandoned; }

    bool Abandon()
    {
        m_stop.Request();
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

    // The attempt failed: the value is kept for the dialog, the trail says it once, and the
    // dialog is told unless the attempt was given up.
    void Fail(rules::FailureStep step, rules::FailureCause cause)
    {
        const rules::Failure failure{step, cause};
        {
            win::Locked hold(m_lock);
            m_failure = failure;
        }
        win::Trail(L"failure: " + rules::FailureName(failure));
        if (!IsAbandoned()) Tell(Note::Failed);
    }
    rules::Failure failure()
    {
        win::Locked hold(m_lock);
        return m_failure;
    }

private:
    const LPARAM m_id;
    const HWND m_window;
    volatile LONG m_phase = Downloading;
    win::StopFlag m_stop;
    volatile LONG m_progressPosted = 0;
    win::Lock m_lock;
    Progress m_progress;
    rules::Failure m_failure;
};

namespace {

constexpr DWORD kPauseAfterWizardMs = 3000;

// A judged file whose signer has been revoked since it signed is refused; a revocation server
// that does not answer within its limit is not a refusal.
bool NotRevoked(const std::wstring& path, const sys::JudgedFile& judged)
{
    if (sys::CheckRevocation(judged) != sys::Revocation::Revoked) return true;
    win::Trail(L"update: refused, the signer's certificate is revoked: " + path);
    return false;
}

// One attempt, from the download to the end of the clean-up, on a worker of its own. It holds
// its own copies of the values, so it never touches the dialog or the application.
class AttemptJob {
public:
    AttemptJob(const settings::Values& values, win::Shared<Attempt> attempt,
               win::Shared<UpdateStore> store)
        : m_settings(values.settings),
          m_installation(values.installation),
          m_offer(values.offer),
          m_attempt(attempt),
          m_store(store)
    {
    }

    void Run()
    {
        // No window on this thread, so a multithreaded apartment: nothing here ever has to
        // answer a message while it waits.
        win::ComApartment com(win::ComApartment::MultiThreaded);
        if (!m_store->Prepare())
            return m_attempt->Fail(rules::FailureStep::Start, rules::FailureCause::NoWorker);
        sys::JudgedFile judged;
        if (!FetchCheckedPackage(&judged)) return;
        if (!m_attempt->EnterStaging()) {
            win::Trail(L"update: given up before the package ran");
            return;
        }
        m_attempt->Tell(Note::Checked);
        ExtractedFolder extracted;
        if (!Stage(std::move(judged.file), &extracted)) {
            return m_attempt->Fail(rules::FailureStep::Staging, rules::FailureCause::UnpackFailed);
        }
        sys::JudgedFile wizard;
        if (!JudgeWizard(extracted, &wizard)) {
            // Held no longer, the folder whose wizard failed can go.
            extracted = ExtractedFolder();
            win::Trail(L"staging: the new wizard was refused; removing what the package made");
            ClearUnpackedFolder(work(), paths());
            return m_attempt->Fail(rules::FailureStep::Wizard, rules::FailureCause::WizardRefused);
        }
        m_attempt->Tell(Note::HandingOver);
        HandOver(std::move(extracted), std::move(wizard.file));
        m_attempt->Tell(Note::Ended);
    }

private:
    const WorkFolder& work() const { return m_store->work(); }
    const UpdatePaths& paths() const { return m_store->paths(); }

    // The package from the offer's addresses in order, until one gives a package that passes
    // its check: a connection failure, an HTTP error, a stall, a cut that cannot resume, a wrong
    // size or a refused package moves on to the next address, and nothing fetched from the one
    // that failed is kept. A cut the server lets us resume ends the attempt there, so Retry
    // takes the rest from the same address; otherwise every attempt starts at the first. The
    // failure is the last address's. True with `judged` holding the checked package.
    bool FetchCheckedPackage(sys::JudgedFile* judged)
    {
        sys::PackageDownload& download = m_store->download();
        const std::vector<std::wstring> urls = DownloadUrls();
        size_t at = 0;
        while (download.HoldsPartial() && at + 1 < urls.size() && urls[at] != download.url()) ++at;
        rules::Failure failure{rules::FailureStep::Download, rules::FailureCause::NoConnection};
        for (; at < urls.size(); ++at) {
            download.Retarget(urls[at]);
            const sys::NetFault fault = Download(urls[at]);
            if (fault == sys::NetFault::Stopped || m_attempt->IsAbandoned()) return false;
            const bool last = at + 1 == urls.size();
            if (fault == sys::NetFault::None) {
                if (Check(judged, &failure.cause)) return true;
                failure.step = rules::FailureStep::Check;
            } else {
                failure = {rules::FailureStep::Download, DownloadCause(fault)};
                if (fault == sys::NetFault::Cut && download.HoldsPartial()) break;
                if (!last) download.Discard();
            }
            if (!last)
                win::Trail(L"download: " + urls[at] + L" failed (" + rules::FailureName(failure) +
                           L"); trying " + urls[at + 1]);
        }
        m_attempt->Fail(failure.step, failure.cause);
        return false;
    }

    std::vector<std::wstring> DownloadUrls() const
    {
        std::vector<std::wstring> urls{m_offer.downloadUrl};
        urls.insert(urls.end(), m_offer.mirrorUrls.begin(), m_offer.mirrorUrls.end());
        return urls;
    }

    sys::NetFault Download(const std::wstring& url)
    {
        win::Trail(L"download: fetching the package " + paths().packageName + L" from " + url +
                   L" into the work folder");
        Attempt& attempt = *m_attempt;
        const sys::NetFault fault = m_store->download().Run(
            [&attempt](unsigned long long received, unsigned long long total) {
                attempt.SetProgress(received, total);
            },
            attempt.stop());
        if (fault == sys::NetFault::None) win::Trail(L"download: package stored");
        return fault;
    }

    // The stored package judged in the work folder; on a refusal `cause` says why, and the file
    // is gone: Retry fetches it again anyway, and a refused file must not wait under a name the
    // network chose.
    bool Check(sys::JudgedFile* judged, rules::FailureCause* cause)
    {
        // Opened in the held folder; its path, checked to name what we hold, only for the
        // name rules and the trust provider.
        const std::wstring folder = work().CheckedPath();
        const std::wstring path = rules::JoinPath(folder, paths().packageName);
        if (!folder.empty()) {
            const PackageJudgement judgement =
                JudgePackage(path, sys::OpenLockedIn(work().handle(), paths().packageName),
                             m_settings.drvName, m_settings.installerRevision, m_offer, judged);
            if (judgement.accepted) return true;
            *cause = judgement.cause;
        } else {
            *cause = rules::FailureCause::BadSignature;
        }
        *judged = sys::JudgedFile();
        m_store->download().Discard();
        return false;
    }

    bool Stage(win::File judged, ExtractedFolder* extracted)
    {
        return ClearUnpackedFolder(work(), paths()) &&
               RunPackage(work(), paths(), std::move(judged), extracted) &&
               CompleteExtractedFolder(*extracted, paths(), m_installation);
    }

    // The new wizard runs elevated: it is judged like the package, where it lies.
    bool JudgeWizard(const ExtractedFolder& extracted, sys::JudgedFile* judged)
    {
        const std::wstring folder = extracted.CheckedPath();
        const std::wstring path = rules::JoinPath(folder, paths().wizardName);
        return !folder.empty() &&
               sys::CheckOpenedPackage(
                   path, sys::OpenLockedIn(extracted.handle.get(), paths().wizardName),
                   sys::BuiltInKeyPins(), judged) == sys::PackageVerdict::Accepted &&
               NotRevoked(path, *judged);
    }

    void HandOver(ExtractedFolder extracted, win::File wizard)
    {
        // The user is never left without a wizard: without the new one, the local one starts.
        if (!RunNewWizard(work(), extracted, paths(), m_installation, std::move(wizard))) {
            // The dialog is hidden by now: the value goes to the trail alone.
            win::Trail(L"failure: " + rules::FailureName({rules::FailureStep::HandOver,
                                                          rules::FailureCause::WizardNotStarted}));
            win::Trail(L"hand-over: starting the local wizard instead");
            sys::StartLocalWizard(m_installation.localWizard);
        }
        // Held no longer, so the clean-up can take it.
        extracted = ExtractedFolder();
        ::Sleep(kPauseAfterWizardMs);
        m_store->RemoveAll();
    }

    const settings::Settings m_settings;
    const settings::Installation m_installation;
    const settings::Offer m_offer;
    win::Shared<Attempt> m_attempt;
    win::Shared<UpdateStore> m_store;
};

}  // namespace

Flow::Flow(const settings::Values& values)
    : m_values(values), m_store(new UpdateStore(values.offer))
{
}

Flow::~Flow()
{
    Abandon();
    // Whatever ended the run (No, Cancel, the close box, a failure), nothing of the update
    // stays. A worker still stuck in the network keeps the store itself alive.
    m_store->RemoveAll();
}

bool Flow::Start(HWND window)
{
    Abandon();
    win::Shared<Attempt> attempt(new Attempt(++m_lastId, window));
    m_attempt = attempt;
    if (win::StartWorker(std::make_unique<AttemptJob>(m_values, attempt, m_store))) return true;
    // Without a worker, a failure like any other: the caller shows the failed view.
    win::Trail(L"failure: " +
               rules::FailureName({rules::FailureStep::Start, rules::FailureCause::NoWorker}));
    return false;
}

rules::Failure Flow::LastFailure() const
{
    return m_attempt ? m_attempt->failure() : rules::Failure();
}

bool Flow::Abandon() { return !m_attempt || m_attempt->Abandon(); }

bool Flow::IsCurrent(LPARAM attempt) const
{
    return m_attempt && m_attempt->id() == attempt && !m_attempt->IsAbandoned();
}

bool Flow::StartLocalWizard() const
{
    return sys::StartLocalWizard(m_values.installation.localWizard);
}

Progress Flow::CurrentProgress() const
{
    return m_attempt ? m_attempt->TakeProgress() : Progress();
}

}  // namespace update
