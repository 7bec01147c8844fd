// The one way the local wizard is started, by start-up, the dialog and the update flow alike.
#pragma once
#include <string>

namespace sys {

// Starts `wizard` (the installation's KVWizard.exe) shown, from its own folder, once it has
// passed the package check on a locked handle; it runs elevated like us, so it is judged like
// the new wizard and started from the very file that was judged. Fire and forget: true when it
// was started, false (and nothing started, the trail says why) when it was refused or could
// not start.
bool StartLocalWizard(const std::wstring& wizard);

}  // namespace sys
