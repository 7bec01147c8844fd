// The settings files under res: the value reader and the four reading steps of start-up.
#include <windows.h>
#include <shlwapi.h>

#include "app/morvane_app.h"

#include "app/ini_text.h"
#include "app/startup_rules.h"
#include "rules/failure.h"
#include "rules/folders.h"
#include "ui/download_line.h"
#include "win/handles.h"

namespace app {

namespace {

int ReadNumber(const std::wstring& section, const std::wstring& key, const wchar_t* defaultValue,
               const std::wstring& file)
{
    return ::StrToIntW(ReadIniValue(section, key, defaultValue, file).c_str());
}

bool FileExists(const std::wstring& path) { return ::PathFileExistsW(path.c_str()) != FALSE; }

// "<stem>.ini" in the language folder when it exists, else "<stem>1.ini" when that exists, else
// empty. The two are never merged.
std::wstring ChooseLanguageFile(const std::wstring& languageFolder, const wchar_t* stem)
{
    const std::wstring first = rules::JoinPath(languageFolder, std::wstring(stem) + L".ini");
    if (FileExists(first)) return first;
    const std::wstring fallback = rules::JoinPath(languageFolder, std::wstring(stem) + L"1.ini");
    if (FileExists(fallback)) return fallback;
    return std::wstring();
}

// The texts of one table of built-in texts (`count` of them, numbered by the enum `Text`):
// uistrings.ini's own under [STARTUP] where that file was found, else the text built in for the
// language.
template <class Text, class Key, class BuiltIn>
std::vector<std::wstring> ReadTextTable(std::size_t count, Key key, BuiltIn builtIn,
                                        const std::wstring& language, const std::wstring& file)
{
    std::vector<std::wstring> texts;
    for (std::size_t i = 0; i < count; ++i) {
        const auto text = static_cast<Text>(i);
        const std::wstring own = builtIn(text, language);
        texts.push_back(file.empty() ? own : ReadIniValue(L"STARTUP", key(text), own, file));
    }
    return texts;
}

}  // namespace

std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key,
                          const std::wstring& defaultValue, const std::wstring& file)
{
    // The profile reader's buffer: the value's characters and the terminator.
    wchar_t buffer[kValueChars + 1] = {};
    ::GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                               static_cast<DWORD>(kValueChars + 1), file.c_str());
    buffer[kValueChars] = L'\0';
    // Escapes are converted after the cut, so a backslash cut off from its letter stays.
    return app::UnescapeControlChars(buffer);
}

int CMorvaneApp::ReadMainSettings()
{
    const std::wstring& file = m_values.installation.mainSettings;
    if (!FileExists(file)) return 0;
    const std::wstring section = L"STARTUP";
    settings::Settings& s = m_values.settings;
    m_values.texts.productName = ReadIniValue(section, L"ProductName", L"", file);
    s.osMajor = ReadNumber(section, L"OSMajor", L"5", file);
    s.osMinor = ReadNumber(section, L"OSMinor", L"1", file);
    s.spMajor = ReadNumber(section, L"SPMajor", L"3", file);
    s.bicon = ReadNumber(section, L"Bicon", L"0", file);
    return 1;
}

bool CMorvaneApp::UpdateChecksTurnedOff()
{
    return app::TurnsUpdateChecksOff(
        ReadIniValue(L"STARTUP", L"UpdateCheck", L"", m_values.installation.mainSettings));
}

int CMorvaneApp::ReadLanguageSettings()
{
    const std::wstring file = ChooseLanguageFile(m_values.installation.languageFolder, L"language");
    if (file.empty()) return 0;
    const std::wstring section = L"Alternative Drivers";
    settings::Settings& s = m_values.settings;
    s.drvName = ReadIniValue(section, L"DRVNAME", L"", file);
    s.installerCtlFile = ReadIniValue(section, L"InstallerCtlFile", L"", file);
    if (s.installerCtlFile.empty()) return 0;
    s.installerRevision = ReadNumber(section, L"InstallerRevision", L"0", file);
    return 1;
}

int CMorvaneApp::ReadUiStrings()
{
    const std::wstring file =
        ChooseLanguageFile(m_values.installation.languageFolder, L"uistrings");
    if (file.empty()) return 0;
    const std::wstring section = L"STARTUP";
    m_strUiStrings = file;
    settings::Texts& t = m_values.texts;
    t.titleUpdate = ReadIniValue(section, L"TitleUpdate", L"", file);
    t.messageUpdate = ReadIniValue(section, L"MessageUpdate", L"", file);
    t.messageDownload = ReadIniValue(section, L"MessageDownload", L"", file);
    t.downloadError = ReadIniValue(section, L"DownloadError", L"", file);
    t.noBtn = ReadIniValue(section, L"NoBtn", L"", file);
    t.yesBtn = ReadIniValue(section, L"YesBtn", L"", file);
    t.cancelBtn = ReadIniValue(section, L"CancelBtn", L"", file);
    t.closeBtn = ReadIniValue(section, L"CloseBtn", L"", file);
    t.retryBtn = ReadIniValue(section, L"RetryBtn", L"", file);
    t.messageOSCap = ReadIniValue(section, L"MessageOSCap", L"", file);
    t.messageWizardRefused =
        ReadIniValue(section, L"MessageWizardRefused",
                     app::WizardRefusedText(m_values.installation.language), file);
    return 1;
}

void CMorvaneApp::ReadFailureReasons()
{
    m_values.texts.reasons = ReadTextTable<rules::FailureCause>(
        rules::kFailureCauseCount, rules::ReasonKey, rules::BuiltInReason,
        m_values.installation.language, m_strUiStrings);
}

void CMorvaneApp::ReadDownloadLineTexts()
{
    m_values.texts.downloadLine =
        ReadTextTable<ui::LineText>(ui::kLineTextCount, ui::LineTextKey, ui::BuiltInLineText,
                                    m_values.installation.language, m_strUiStrings);
}

int CMorvaneApp::FindDriverName()
{
    settings::Settings& s = m_values.settings;
    if (!s.drvName.empty()) return 1;
    const std::wstring folder = rules::JoinPath(
        m_values.installation.appDir, s.bicon != 0 ? L"Driver\\Printer\\Driver\\WINX86\\SETUP"
                                                   : L"Common\\Printer\\WINX86\\SETUP");
    const std::wstring pattern = rules::JoinPath(folder, L"*.kif");
    if (pattern.size() >= MAX_PATH) return 0;
    WIN32_FIND_DATAW entry;
    win::FindHandle search(::FindFirstFileW(pattern.c_str(), &entry));
    if (!search) return 0;
    const std::wstring file = rules::JoinPath(folder, entry.cFileName);
    search.reset();
    s.drvName = ReadIniValue(L"Strings", L"DRVNAME", L"", file);
    return 1;
}

}  // namespace app
