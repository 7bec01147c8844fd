// The application object: start-up, the settings record and the start-up decision.
#pragma once
#include <windows.h>

#include <string>

#include "sys/download.h"

class CMorvaneDlg;

class CMorvaneApp {
public:
    CMorvaneApp() = default;
    CMorvaneApp(const CMorvaneApp&) = delete;
    CMorvaneApp& operator=(const CMorvaneApp&) = delete;

    // The start-up sequence; returns 0 on every path.
    int InitInstance();

    int IsAnotherInstanceRunning();
    int InitFoldersAndLanguage();
    int ReadMainSettings();
    int ReadLanguageSettings();
    int ReadUiStrings();
    int FindDriverName();
    int IsOsSupported();
    int CheckForUpdate();
    int LaunchLocalWizard();

    // The dialog while it runs; nullptr otherwise.
    CMorvaneDlg* m_pMainWnd = nullptr;

    // The settings record: filled once by the start-up sequence, read-only afterwards.
    std::wstring m_strAppDir;
    std::wstring m_strTempDir;
    std::wstring m_strLanguage;
    std::wstring m_strDrvName;
    std::wstring m_strTitleUpdate;
    std::wstring m_strMessageUpdate;
    std::wstring m_strMessageDownload;
    std::wstring m_strDownloadError;
    std::wstring m_strNoBtn;
    std::wstring m_strYesBtn;
    std::wstring m_strCancelBtn;
    std::wstring m_strCloseBtn;
    std::wstring m_strRetryBtn;
    std::wstring m_strMessageOSCap;
    std::wstring m_strProductName;
    int m_nOSMajor = 0;
    int m_nOSMinor = 0;
    int m_nSPMajor = 0;
    int m_bOsSupported = 0;
    int m_nBicon = 0;
    std::wstring m_strInstallerCtlFile;
    int m_nInstallerRevision = 0;
    std::wstring m_strDownloadUrl;
    std::wstring m_strPackagePath;
    std::wstring m_strExePath;
    int m_nRevision = 0;
    int m_bUpdateAvailable = 0;
    int m_bConnected = 0;

private:
    // Whatever the servers do, the probe and the control-file fetch together end this long
    // after InitInstance starts, which leaves the wizard well within 15 s of launch.
    static const unsigned long kNetworkBudgetMs = 10000;
    sys::Deadline m_networkDeadline{kNetworkBudgetMs};
    void ShowDialog();
};

// The one application object.
extern CMorvaneApp theApp;

// Opens KVWizard.exe of `appDir` with the shell's "open" verb and shows it; fire and forget.
// The one way the local wizard is started, by start-up and by the dialog alike.
int StartLocalWizard(const std::wstring& appDir);

// Reads one value of an INI file: at most 259 characters, escape sequences converted.
std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key,
                          const std::wstring& defaultValue, const std::wstring& file);
