// The settings files under res: the value reader and the four reading steps of start-up.
#include <windows.h>
#include <shlwapi.h>

#include "app/morvane_app.h"
#include "app/startup_rules.h"
#include "rules/folders.h"
#include "win/handles.h"

namespace {

const int kValueChars = 260;  // 259 characters and the terminator

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

}  // namespace

std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key,
                          const std::wstring& defaultValue, const std::wstring& file)
{
    wchar_t buffer[kValueChars] = {};
    ::GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                               kValueChars, file.c_str());
    buffer[kValueChars - 1] = L'\0';
    // Escapes are converted after the cut, so a backslash cut off from its letter stays.
    return startup::UnescapeControlChars(buffer);
}

int CMorvaneApp::ReadMainSettings()
{
    const std::wstring file = rules::JoinPath(m_strAppDir, L"res\\kavro.ini");
    if (!FileExists(file)) return 0;
    const std::wstring section = L"STARTUP";
    m_strProductName = ReadIniValue(section, L"ProductName", L"", file);
    m_nOSMajor = ReadNumber(section, L"OSMajor", L"5", file);
    m_nOSMinor = ReadNumber(section, L"OSMinor", L"1", file);
    m_nSPMajor = ReadNumber(section, L"SPMajor", L"3", file);
    m_nBicon = ReadNumber(section, L"Bicon", L"0", file);
    return 1;
}

int CMorvaneApp::ReadLanguageSettings()
{
    const std::wstring file =
        ChooseLanguageFile(rules::JoinPath(m_strAppDir, L"res\\" + m_strLanguage), L"language");
    if (file.empty()) return 0;
    const std::wstring section = L"Alternative Drivers";
    m_strDrvName = ReadIniValue(section, L"DRVNAME", L"", file);
    m_strInstallerCtlFile = ReadIniValue(section, L"InstallerCtlFile", L"", file);
    if (m_strInstallerCtlFile.empty()) return 0;
    m_nInstallerRevision = ReadNumber(section, L"InstallerRevision", L"0", file);
    return 1;
}

int CMorvaneApp::ReadUiStrings()
{
    const std::wstring file =
        ChooseLanguageFile(rules::JoinPath(m_strAppDir, L"res\\" + m_strLanguage), L"uistrings");
    if (file.empty()) return 0;
    const std::wstring section = L"STARTUP";
    m_strTitleUpdate = ReadIniValue(section, L"TitleUpdate", L"", file);
    m_strMessageUpdate = ReadIniValue(section, L"MessageUpdate", L"", file);
    m_strMessageDownload = ReadIniValue(section, L"MessageDownload", L"", file);
    m_strDownloadError = ReadIniValue(section, L"DownloadError", L"", file);
    m_strNoBtn = ReadIniValue(section, L"NoBtn", L"", file);
    m_strYesBtn = ReadIniValue(section, L"YesBtn", L"", file);
    m_strCancelBtn = ReadIniValue(section, L"CancelBtn", L"", file);
    m_strCloseBtn = ReadIniValue(section, L"CloseBtn", L"", file);
    m_strRetryBtn = ReadIniValue(section, L"RetryBtn", L"", file);
    m_strMessageOSCap = ReadIniValue(section, L"MessageOSCap", L"", file);
    return 1;
}

int CMorvaneApp::FindDriverName()
{
    if (!m_strDrvName.empty()) return 1;
    const std::wstring folder = rules::JoinPath(
        m_strAppDir, m_nBicon != 0 ? L"Driver\\Printer\\Driver\\WINX86\\SETUP"
                                   : L"Common\\Printer\\WINX86\\SETUP");
    const std::wstring pattern = rules::JoinPath(folder, L"*.kif");
    if (pattern.size() >= MAX_PATH) return 0;
    WIN32_FIND_DATAW entry;
    win::FindHandle search(::FindFirstFileW(pattern.c_str(), &entry));
    if (!search) return 0;
    const std::wstring file = rules::JoinPath(folder, entry.cFileName);
    search.reset();
    m_strDrvName = ReadIniValue(L"Strings", L"DRVNAME", L"", file);
    return 1;
}
