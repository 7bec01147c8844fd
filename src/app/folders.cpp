// The program's own folder, the temporary folder and the language folder.
#include <windows.h>
#include <shlwapi.h>

#include "app/morvane_app.h"
#include "app/startup_rules.h"
#include "rules/folders.h"
#include "win/environment.h"

namespace app {

namespace {

const DWORD kPathChars = MAX_PATH;

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

    const std::wstring temp =
        rules::TemporaryFolder(win::EnvironmentVariable(L"temp"), win::EnvironmentVariable(L"tmp"));
    m_values.installation = settings::MakeInstallation(appDir, temp, L"");
    if (temp.empty()) return 0;

    const unsigned primaryLanguage = ::GetUserDefaultLCID() & 0x3FF;
    const wchar_t* candidates[] = {app::LanguageFolderFor(primaryLanguage), L"English", L"Spanish"};
    for (const wchar_t* language : candidates) {
        m_values.installation = settings::MakeInstallation(appDir, temp, language);
        if (IsFolder(m_values.installation.languageFolder)) return 1;
    }
    return 0;
}

}  // namespace app
