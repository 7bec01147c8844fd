// The application object: the start-up steps, the values they make and the start-up decision.
#pragma once
#include <optional>
#include <string>

#include "app/offer_judgement.h"
#include "settings/values.h"
#include "sys/local_wizard.h"
#include "sys/server_probe.h"
#include "ui/dialog_states.h"

namespace app {

class CMorvaneApp {
public:
    CMorvaneApp() = default;
    CMorvaneApp(const CMorvaneApp&) = delete;
    CMorvaneApp& operator=(const CMorvaneApp&) = delete;

    // The start-up sequence; returns 0 on every path.
    int InitInstance();

    // The start-up steps, each 1 when it read what it needs and 0 otherwise.
    int IsAnotherInstanceRunning();
    int InitFoldersAndLanguage();
    int ReadMainSettings();
    int ReadLanguageSettings();
    int ReadUiStrings();
    // The texts of the failed view's reasons, only when the dialog opens.
    void ReadFailureReasons();
    // The texts of the downloading view's line, likewise.
    void ReadDownloadLineTexts();
    int FindDriverName();
    int IsOsSupported();
    int CheckForUpdate();
    int LaunchLocalWizard();
    // An administrator's UpdateCheck=0 in kavro.ini: no request of any kind, the local wizard.
    bool UpdateChecksTurnedOff();

    // What the steps made: complete before the dialog exists, read-only afterwards.
    settings::Values m_values;
    int m_bConnected = 0;
    int m_bUpdateAvailable = 0;

private:
    win::Deadline m_networkDeadline{kNetworkBudgetMs};
    std::wstring m_strUiStrings;  // the language's uistrings file, once ReadUiStrings found it
    // The local wizard's check, begun as soon as the folders say where the wizard is, so that
    // it runs while the network is awaited; LaunchLocalWizard waits for its verdict.
    std::optional<sys::LocalWizardCheck> m_wizardCheck;
    void ShowDialog(ui::State opening);
};

// Reads one value of an INI file: at most 259 characters, escape sequences converted.
std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key,
                          const std::wstring& defaultValue, const std::wstring& file);

}  // namespace app
