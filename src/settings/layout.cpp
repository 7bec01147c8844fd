#include "settings/values.h"

#include "rules/folders.h"

namespace settings {
namespace {

// What the shell's PathRemoveFileSpecW leaves of a path with a folder part.
std::wstring WithoutLastComponent(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

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

UpdatePaths MakeUpdatePaths(const Installation& installation, const Offer& offer)
{
    UpdatePaths p;
    if (!offer.packageName.empty())
        p.packageFile = rules::JoinPath(installation.tempDir, offer.packageName);
    if (offer.exePath.empty()) return p;
    p.newWizard = rules::JoinPath(installation.tempDir, offer.exePath);
    p.extractedFolder = WithoutLastComponent(p.newWizard);
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
