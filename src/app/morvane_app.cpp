#include "app/morvane_app.h"

#include <commctrl.h>
#include <shellapi.h>

#include "app/startup_rules.h"
#include "sys/instance_guard.h"
#include "ui/morvane_dlg.h"
#include "win/com.h"
#include "win/syslib.h"

#ifndef FLAG_ICC_FORCE_CONNECTION
#define FLAG_ICC_FORCE_CONNECTION 0x00000001
#endif

CMorvaneApp theApp;

namespace {

using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
using InternetGetConnectedStateFn = BOOL(WINAPI*)(LPDWORD, DWORD);
using InternetCheckConnectionFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD);

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

int CMorvaneApp::TestConnectivity()
{
    auto connectedState = win::SystemFunction<InternetGetConnectedStateFn>(
        L"wininet.dll", "InternetGetConnectedState");
    auto checkConnection = win::SystemFunction<InternetCheckConnectionFn>(
        L"wininet.dll", "InternetCheckConnectionW");
    if (!connectedState || !checkConnection) return 0;
    DWORD flags = 0;
    if (!connectedState(&flags, 0)) return 0;
    return checkConnection(MORVANE_SUPPORT_URL, FLAG_ICC_FORCE_CONNECTION, 0) ? 1 : 0;
}

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

int CMorvaneApp::LaunchLocalWizard()
{
    const std::wstring wizard = m_strAppDir + L"\\KVWizard.exe";
    ::ShellExecuteW(nullptr, L"open", wizard.c_str(), nullptr, nullptr, SW_SHOW);
    return 1;
}

void CMorvaneApp::ShowDialog()
{
    CMorvaneDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
}
