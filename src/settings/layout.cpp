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

UpdatePaths MakeUpdatePaths(const std::wstring& workFolder, const Offer& offer)
{
    UpdatePaths p;
    p.workFolder = rules::NormaliseFolder(workFolder);
    if (!offer.packageName.empty())
        p.packageFile = rules::JoinPath(p.workFolder, offer.packageName);
    if (offer.exePath.empty()) return p;
    const std::wstring firstLevel = offer.exePath.substr(0, offer.exePath.find(L'\\'));
    p.unpackedFolder = rules::JoinPath(p.workFolder, firstLevel);
    p.newWizard = rules::JoinPath(p.workFolder, offer.exePath);
    p.extractedFolder = rules::ParentFolder(p.newWizard);
    p.wizardCopy = rules::JoinPath(p.extractedFolder, L"KVWizard.exe");
    p.targetRes = rules::JoinPath(p.extractedFolder, L"res");
    return p;
}

std::wstring PackageCommandLine(const UpdatePaths& paths)
{
    return rules::QuoteArgument(paths.packageFile);
}

std::wstring NewWizardCommandLine(const UpdatePaths& paths, const Installation& installation)
{
    return rules::QuoteArgument(paths.newWizard) + L" " + rules::PathArgument(installation.appDir);
}

}  // namespace settings
