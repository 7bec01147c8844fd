// The program's own folder, the temporary folder and the language folder.
#include <windows.h>
#include <shlwapi.h>

#include "app/morvane_app.h"
#include "app/startup_rules.h"
#include "rules/folders.h"

namespace app {

namespace {

const DWORD kPathChars = MAX_PATH;

// The variable's whole value, or empty when it is unset; how long a value may be is the
// temporary-folder rule's business.
std::wstring ReadVariable(const wchar_t* name)
{
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::wstring();
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, &value[0], size);
    if (length == 0 || length >= size) return std::wstring();
    value.resize(length);
    return value;
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

    const std::wstring temp = rules::TemporaryFolder(ReadVariable(L"temp"), ReadVariable(L"tmp"));
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
