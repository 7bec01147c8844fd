#include "ui/staging.h"

#include <shlwapi.h>

#include "app/startup_rules.h"
#include "sys/directory_tree.h"
#include "sys/runner.h"
#include "ui/staging_rules.h"

namespace ui {
namespace {

constexpr DWORD kPauseAfterWizardMs = 3000;

// The extracted folder with the local wizard and res tree added where missing.
int CompleteExtractedFolder(const StagingPaths& paths, const std::wstring& appDir)
{
    const int folderReady = tree::EnsureDirectory(paths.extractedFolder, appDir);
    int wizardReady = 0;
    if (::PathFileExistsW(paths.wizardCopy.c_str()))
        wizardReady = folderReady;
    else if (folderReady)
        wizardReady = ::CopyFileW(paths.localWizard.c_str(), paths.wizardCopy.c_str(), TRUE) ? 1 : 0;
    if (!wizardReady) return 0;
    return tree::EnsureDirectory(paths.targetRes, paths.sourceRes) &&
                   tree::CopyDirectoryTree(paths.targetRes, paths.sourceRes)
               ? 1
               : 0;
}

}  // namespace

int StagePackage(StagingJob& job)
{
    const sys::StartedProcess package =
        sys::StartProcess(PackageCommandLine(job.packagePath), true);
    // Its process holds the image now; the package no longer needs our lock.
    job.packageLock.reset();
    if (!package) return 0;
    if (sys::WaitForProcess(package)) return 0;  // ended as hung: extraction incomplete
    const StagingPaths paths = StagingPathsFor(job.tempDir, job.exePath, job.appDir);
    return CompleteExtractedFolder(paths, job.appDir);
}

int RunNewWizardAndCleanUp(const std::wstring& packagePath, const std::wstring& tempDir,
                           const std::wstring& exePath, const std::wstring& appDir)
{
    const StagingPaths paths = StagingPathsFor(tempDir, exePath, appDir);
    int started = 0;
    if (!tempDir.empty() && !exePath.empty() && !appDir.empty())
        started = sys::RunProcessAndWait(NewWizardCommandLine(paths, appDir), false);
    ::Sleep(kPauseAfterWizardMs);
    // The same rule the update check applied: never the temporary folder or anything outside.
    if (!tempDir.empty() && startup::IsSafeExePath(exePath))
        tree::DeleteDirectoryTree(paths.extractedFolder);
    ::DeleteFileW(packagePath.c_str());
    return started;
}

}  // namespace ui
