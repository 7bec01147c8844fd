#include "sys/local_wizard.h"

#include "rules/folders.h"
#include "sys/runner.h"
#include "sys/trust.h"
#include "win/trail.h"

namespace sys {

bool StartLocalWizard(const std::wstring& wizard)
{
    win::File judged;
    if (!sys::VerifyPackage(wizard, &judged)) {
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

}  // namespace sys
