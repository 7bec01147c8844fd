#include "sys/local_wizard.h"

#include "rules/folders.h"
#include "sys/runner.h"
#include "sys/trust.h"
#include "win/trail.h"

namespace sys {

namespace {

// Starts the file `judged` holds, which the package check accepted under the name `wizard`.
bool StartJudged(const std::wstring& wizard, bool accepted, const win::File& judged)
{
    if (!accepted) {
        win::Trail(L"local wizard: " + wizard + L" was refused by the package check; not started");
        return false;
    }
    JudgedStart how;
    how.folder = rules::ParentFolder(wizard);
    const StartedProcess started =
        StartJudgedProcess(rules::QuoteArgument(wizard), judged.get(), how);
    win::Trail(started ? L"local wizard: started" : L"local wizard: could not be started");
    return static_cast<bool>(started);
}

}  // namespace

bool StartLocalWizard(const std::wstring& wizard)
{
    win::File judged;
    const bool accepted = sys::VerifyPackage(wizard, &judged) != 0;
    return StartJudged(wizard, accepted, judged);
}

// The check's own copies: a caller that never starts the wizard lets the job go while the pool
// thread may still be reading the file.
class LocalWizardCheck::Job : public win::DeadlineJob {
public:
    explicit Job(const std::wstring& wizard) : wizard(wizard) {}
    void Judge() { accepted = sys::VerifyPackage(wizard, &judged) != 0; }

    const std::wstring wizard;
    bool accepted = false;
    win::File judged;

private:
    void Run() override { Judge(); }
};

LocalWizardCheck::LocalWizardCheck(const std::wstring& wizard)
    : m_job(new Job(wizard)), m_onPool(m_job->Start())
{
}

LocalWizardCheck::~LocalWizardCheck() = default;

bool LocalWizardCheck::Start()
{
    // Without a pool thread the check runs here, as it did before it was begun early.
    if (!m_onPool)
        m_job->Judge();
    else if (::WaitForSingleObject(m_job->Done(), INFINITE) != WAIT_OBJECT_0)
        return StartJudged(m_job->wizard, false, win::File());
    return StartJudged(m_job->wizard, m_job->accepted, m_job->judged);
}

}  // namespace sys
