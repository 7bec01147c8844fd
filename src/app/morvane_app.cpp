#include "app/morvane_app.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "app/startup_rules.h"
#include "sys/server_probe.h"
#include "sys/instance_guard.h"
#include "sys/local_wizard.h"
#include "ui/morvane_dlg.h"
#include "update/work_folder.h"
#include "win/com.h"
#include "win/syslib.h"
#include "win/trail.h"
#include "rules/wstr.h"

namespace app {

namespace {

std::wstring VersionText(unsigned major, unsigned minor, unsigned servicePack)
{
    return rules::Decimal(major) + L"." + rules::Decimal(minor) + L" SP" +
           rules::Decimal(servicePack);
}

// One start-up step's outcome on the trail; passes on whether it succeeded.
bool Step(const wchar_t* name, int result)
{
    win::Trail(std::wstring(name) + (result ? L": read" : L": missing"));
    return result != 0;
}

void RegisterCommonControls()
{
    auto init = win::Comctl32().InitCommonControlsEx;
    if (!init) return;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    init(&controls);
}

}  // namespace

int CMorvaneApp::InitInstance()
{
    m_networkDeadline = win::Deadline(kNetworkBudgetMs);
    if (IsAnotherInstanceRunning()) {
        win::Trail(L"another copy runs: ending at once");
        return 0;
    }

    m_bUpdateAvailable = 0;
    // The folders come before the probe: they say where kavro.ini is, and an administrator who
    // turned update checks off there wants no request at all, the probe included.
    const bool foldersRead = Step(L"folders and language", InitFoldersAndLanguage());
    // The wizard is judged on a pool thread from here on: the check reads only the wizard's
    // file, and the decision waits for its verdict only when it starts the wizard. One thread
    // does all of it, loading included: a second one warming the same libraries beside it only
    // held the settings and the probe back (start-up measured slower with it).
    if (foldersRead) m_wizardCheck.emplace(m_values.installation.localWizard);
    if (foldersRead && UpdateChecksTurnedOff()) {
        win::Trail(L"decision: local wizard, update checks turned off in kavro.ini");
        LaunchLocalWizard();
        return 0;
    }
    // The settings are read and the system compared while the probe waits for the network:
    // neither writes anything nor talks to a server, so nobody sees them overlap, and the
    // server still sees the probe before the control-file fetch.
    sys::ServerProbe probe(MORVANE_SUPPORT_URL);
    const bool settingsRead = foldersRead && Step(L"main settings", ReadMainSettings()) &&
                              Step(L"language settings", ReadLanguageSettings()) &&
                              Step(L"UI texts", ReadUiStrings()) &&
                              Step(L"driver name", FindDriverName());
    if (settingsRead) m_values.osSupported = IsOsSupported() != 0;
    // What a run that died left of an update goes now, before anything new is made.
    update::RemoveLeftoverWorkFolders();
    m_bConnected = probe.Result(m_networkDeadline);
    win::Trail(m_bConnected ? L"support server reachable" : L"support server not reachable");
    if (m_values.osSupported && CheckForUpdate()) m_bUpdateAvailable = 1;

    if (app::Decide({m_values.osSupported, m_bConnected != 0, m_bUpdateAvailable != 0}) ==
        app::Decision::ShowDialog) {
        win::Trail(m_values.osSupported ? L"decision: ask about the update"
                                        : L"decision: show that the system is not supported");
        // Nobody waits for the early check now: the dialog's choices start the wizard through
        // the flow, which judges it then. The pool thread lets the file go when it is done.
        m_wizardCheck.reset();
        ShowDialog(ui::STATE_ASK);
    } else {
        win::Trail(m_bConnected ? L"decision: local wizard, no newer revision offered"
                                : L"decision: local wizard, offline");
        LaunchLocalWizard();
    }
    return 0;
}

int CMorvaneApp::IsAnotherInstanceRunning() { return sys::IsAnotherInstanceRunning(); }

int CMorvaneApp::IsOsSupported()
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    // A failed query leaves 0.0 with no service pack, which only a minimum of zeros passes.
    ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
    const bool supported = app::IsVersionAtLeast(
        version.dwMajorVersion, version.dwMinorVersion, version.wServicePackMajor,
        m_values.settings.osMajor, m_values.settings.osMinor, m_values.settings.spMajor);
    win::Trail(
        L"system " +
        VersionText(version.dwMajorVersion, version.dwMinorVersion, version.wServicePackMajor) +
        (supported ? L" is at least " : L" is below ") +
        VersionText(static_cast<unsigned>(m_values.settings.osMajor),
                    static_cast<unsigned>(m_values.settings.osMinor),
                    static_cast<unsigned>(m_values.settings.spMajor)));
    return supported ? 1 : 0;
}

int CMorvaneApp::LaunchLocalWizard()
{
    const bool started = m_wizardCheck ? m_wizardCheck->Start()
                                       : sys::StartLocalWizard(m_values.installation.localWizard);
    m_wizardCheck.reset();
    if (started) return 1;
    // Nothing was started: the user is told why rather than left with nothing. With update
    // checks turned off the texts were not read yet; without them (a settings file missing)
    // there is nothing to tell it with.
    if (m_values.texts.messageWizardRefused.empty() && ReadMainSettings() && ReadLanguageSettings())
        ReadUiStrings();
    if (m_values.texts.messageWizardRefused.empty()) return 0;
    ShowDialog(ui::STATE_WIZARD_REFUSED);
    return 0;
}

void CMorvaneApp::ShowDialog(ui::State opening)
{
    // The apartment's hidden window and the control classes load the window helpers by name:
    // the system copies come first.
    win::PreloadSystemLibraries(win::OnDemand::Window);
    // The picture decoder is a COM object, and the shell's extensions want a single-threaded
    // apartment on a thread with windows.
    win::ComApartment com;
    // Only the dialog needs the control classes: the path to the wizard never pays for them.
    RegisterCommonControls();
    ReadFailureReasons();
    ReadDownloadLineTexts();
    ui::CMorvaneDlg dialog(m_values, opening);
    dialog.DoModal();
}

}  // namespace app
