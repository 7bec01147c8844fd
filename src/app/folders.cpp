// The program's own folder, the temporary folder and the language folder.
#include <windows.h>
#include <shlwapi.h>

#include "app/morvane_app.h"
#include "app/startup_rules.h"

namespace {

const DWORD kPathChars = MAX_PATH;

// The variable's value, or empty when it is unset, empty or too long for the buffer.
std::wstring ReadVariable(const wchar_t* name)
{
    wchar_t buffer[kPathChars];
    DWORD length = ::GetEnvironmentVariableW(name, buffer, kPathChars);
    if (length == 0 || length >= kPathChars) return std::wstring();
    return std::wstring(buffer, length);
}

bool IsFolder(const std::wstring& path) { return ::PathIsDirectoryW(path.c_str()) != FALSE; }

}  // namespace

int CMorvaneApp::InitFoldersAndLanguage()
{
    wchar_t path[kPathChars];
    DWORD length = ::GetModuleFileNameW(nullptr, path, kPathChars);
    // A path cut off at the buffer's end would name some other folder.
    if (length == 0 || length >= kPathChars) return 0;
    ::PathRemoveFileSpecW(path);
    const std::wstring appDir = path;

    std::wstring temp = ReadVariable(L"temp");
    if (temp.empty()) temp = ReadVariable(L"tmp");
    m_values.installation = settings::MakeInstallation(appDir, temp, L"");
    if (temp.empty()) return 0;

    const unsigned primaryLanguage = ::GetUserDefaultLCID() & 0x3FF;
    const wchar_t* candidates[] = {startup::LanguageFolderFor(primaryLanguage), L"English",
                                   L"Spanish"};
    for (const wchar_t* language : candidates) {
        m_values.installation = settings::MakeInstallation(appDir, temp, language);
        if (IsFolder(m_values.installation.languageFolder)) return 1;
    }
    return 0;
}
