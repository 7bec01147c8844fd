#include "settings/values.h"

#include "rules/folders.h"

namespace settings {

Installation MakeInstallation(const std::wstring& appDir, const std::wstring& tempDir,
                              const std::wstring& language)
{
    Installation i;
    i.appDir = rules::NormaliseFolder(appDir);
    i.tempDir = rules::NormaliseFolder(tempDir);
    i.language = language;
    i.resFolder = rules::JoinPath(i.appDir, L"res");
    i.languageFolder = rules::JoinPath(i.resFolder, language);
    i.mainSettings = rules::JoinPath(i.resFolder, L"kavro.ini");
    i.animation = rules::JoinPath(i.languageFolder, L"Morvane.gif");
    i.localWizard = rules::JoinPath(i.appDir, L"KVWizard.exe");
    return i;
}

}  // namespace settings
