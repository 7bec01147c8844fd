#include "app/morvane_app.h"

#include <commctrl.h>
#include <shellapi.h>

#include "app/startup_rules.h"
#include "sys/download.h"
#include "sys/instance_guard.h"
#include "ui/morvane_dlg.h"
#include "win/com.h"
#include "win/syslib.h"
#include "win/wstr.h"

CMorvaneApp theApp;

namespace {

using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

void RegisterCommonControls()
{
    // Bound at run time: the manifest gives version 6 from the side-by-side store.
    auto init = win::SystemFunction<InitCommonControlsExFn>(L"comctl32.dll", "InitCommonControlsEx");
    if (!init) return;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    init(&controls);
}

}  // namespace

int CMorvaneApp::InitInstance()
{
    RegisterCommonControls();
    // The shell may hand "open" to extensions that need COM, and the picture decoder and the
    // URL download are COM objects: the main thread is an apartment for the whole run.
    win::ComApartment com;
    if (IsAnotherInstanceRunning()) return 0;

    m_bUpdateAvailable = 0;
    m_bConnected = TestConnectivity();

    const bool settingsRead = InitFoldersAndLanguage() && ReadMainSettings() &&
                              ReadLanguageSettings() && ReadUiStrings() && FindDriverName();
    if (settingsRead) {
        m_bOsSupported = IsOsSupported();
        if (m_bOsSupported && CheckForUpdate()) m_bUpdateAvailable = 1;
    }

    if (startup::Decide(m_bOsSupported, m_bConnected, m_bUpdateAvailable) ==
        startup::Action::ShowDialog)
        ShowDialog();
    else
        LaunchLocalWizard();
    return 0;
}

int CMorvaneApp::IsAnotherInstanceRunning() { return sys::IsAnotherInstanceRunning(); }

int CMorvaneApp::TestConnectivity() { return sys::IsServerReachable(MORVANE_SUPPORT_URL); }

int CMorvaneApp::IsOsSupported()
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    // A failed query leaves 0.0 with no service pack, which only a minimum of zeros passes.
    ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
    return startup::IsVersionAtLeast(version.dwMajorVersion, version.dwMinorVersion,
                                     version.wServicePackMajor, m_nOSMajor, m_nOSMinor, m_nSPMajor)
               ? 1
               : 0;
}

int CMorvaneApp::LaunchLocalWizard() { return StartLocalWizard(m_strAppDir); }

int StartLocalWizard(const std::wstring& appDir)
{
    const std::wstring wizard = wstr::JoinPath(appDir, L"KVWizard.exe");
    ::ShellExecuteW(nullptr, L"open", wizard.c_str(), nullptr, nullptr, SW_SHOW);
    return 1;
}

void CMorvaneApp::ShowDialog()
{
    CMorvaneDlg dialog(*this);
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
}
