#include "ui/staging_rules.h"

#include "win/wstr.h"

namespace ui {
namespace {

// What the shell's PathRemoveFileSpecW leaves of a path with a folder part.
std::wstring WithoutLastComponent(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

}  // namespace

StagingPaths StagingPathsFor(const std::wstring& tempDir, const std::wstring& exePath,
                             const std::wstring& appDir)
{
    StagingPaths paths;
    paths.newWizard = wstr::JoinPath(tempDir, exePath);
    paths.extractedFolder = WithoutLastComponent(paths.newWizard);
    paths.wizardCopy = wstr::JoinPath(paths.extractedFolder, L"KVWizard.exe");
    paths.targetRes = wstr::JoinPath(paths.extractedFolder, L"res");
    paths.sourceRes = wstr::JoinPath(appDir, L"res");
    return paths;
}

std::wstring PackageCommandLine(const std::wstring& packagePath) { return Quoted(packagePath); }

std::wstring NewWizardCommandLine(const StagingPaths& paths, const std::wstring& appDir)
{
    return Quoted(paths.newWizard) + L" /PATH=" + Quoted(appDir);
}

}  // namespace ui
