#include "sys/shell.h"

#include <windows.h>
#include <shellapi.h>

#include "win/com.h"

namespace sys {

void StartLocalWizard(const std::wstring& wizard)
{
    // The shell may hand "open" to extensions that need COM. A thread without an apartment
    // gets a multithreaded one, which costs no window; the dialog's single-threaded one is
    // used as it is.
    win::ComApartment com(win::ComApartment::MultiThreaded);
    ::ShellExecuteW(nullptr, L"open", wizard.c_str(), nullptr, nullptr, SW_SHOW);
}

}  // namespace sys
