// The one way the local wizard is started, by start-up, the dialog and the update flow alike.
#pragma once
#include <string>

namespace sys {

// Opens `wizard` with the shell's "open" verb and shows it; fire and forget.
void StartLocalWizard(const std::wstring& wizard);

}  // namespace sys
