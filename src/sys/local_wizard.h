// The one way the local wizard is started, by start-up, the dialog and the update flow alike.
#pragma once
#include <string>

#include "win/thread.h"

namespace sys {

// Starts `wizard` (the installation's KVWizard.exe) shown, from its own folder, once it has
// passed the package check on a locked handle; it runs elevated like us, so it is judged like
// the new wizard and started from the very file that was judged. Fire and forget: true when it
// was started, false (and nothing started, the trail says why) when it was refused or could
// not start.
bool StartLocalWizard(const std::wstring& wizard);

// The same start with the check begun early: the package check of `wizard` starts at
// construction on a pool thread and holds the judged file locked, so start-up judges the
// wizard while it waits for the network, and the start waits for the verdict only when the
// decision is to start it. A wizard that is never started is let go unwaited: the pool thread
// drops the lock when its check ends.
class LocalWizardCheck {
public:
    explicit LocalWizardCheck(const std::wstring& wizard);
    ~LocalWizardCheck();
    LocalWizardCheck(const LocalWizardCheck&) = delete;
    LocalWizardCheck& operator=(const LocalWizardCheck&) = delete;
    // Waits for the verdict, for as long as the check takes (it is local and has no deadline of
    // its own, as when it ran in the caller's thread), then starts the judged file as
    // StartLocalWizard does. Call it once, from a thread that owns no window.
    bool Start();

private:
    class Job;
    win::Shared<Job> m_job;
    bool m_onPool = false;
};

}  // namespace sys
