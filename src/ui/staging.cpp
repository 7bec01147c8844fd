#include "ui/staging.h"

#include <shlwapi.h>

#include "app/startup_rules.h"
#include "sys/directory_tree.h"
#include "sys/runner.h"
#include "ui/staging_rules.h"
#include "win/trail.h"

namespace ui {
namespace {

constexpr DWORD kPauseAfterWizardMs = 3000;

// The extracted folder with the local wizard and res tree added where missing.
int CompleteExtractedFolder(const StagingPaths& paths, const std::wstring& appDir)
{
    const int folderReady = tree::EnsureDirectory(paths.extractedFolder, appDir);
    trail::Say(L"staging: extracted folder " + paths.extractedFolder +
               (folderReady ? L" ready" : L" missing and not made"));
    int wizardReady = 0;
    if (::PathFileExistsW(paths.wizardCopy.c_str())) {
        wizardReady = folderReady;
    } else if (folderReady) {
        // By handle, as the tree copy: the folder cannot become a link between check and write.
        wizardReady = tree::CopyFileIfMissing(paths.extractedFolder, appDir, L"KVWizard.exe");
        trail::Say(wizardReady ? L"staging: local KVWizard.exe copied in"
                               : L"staging: local KVWizard.exe could not be copied in");
    }
    if (!wizardReady) return 0;
    const int resReady = tree::EnsureDirectory(paths.targetRes, paths.sourceRes) &&
                         tree::CopyDirectoryTree(paths.targetRes, paths.sourceRes);
    trail::Say(resReady ? L"staging: res tree completed" : L"staging: res tree not completed");
    return resReady ? 1 : 0;
}

}  // namespace

int StagePackage(StagingJob& job)
{
    const sys::StartedProcess package =
        sys::StartProcess(PackageCommandLine(job.packagePath), true);
    // Its process holds the image now; the package no longer needs our lock.
    job.packageLock.reset();
    if (!package) {
        trail::Say(L"staging: package could not be started");
        return 0;
    }
    if (sys::WaitForProcess(package)) {
        trail::Say(L"staging: package ended as hung; its extraction is incomplete");
        return 0;
    }
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
    if (!tempDir.empty() && startup::IsSafeExePath(exePath)) {
        const int removed = tree::DeleteDirectoryTree(paths.extractedFolder);
        trail::Say(L"clean-up: " + paths.extractedFolder +
                   (removed ? L" removed" : L" could not be removed whole"));
    }
    const bool packageRemoved = ::DeleteFileW(packagePath.c_str()) != FALSE;
    trail::Say(L"clean-up: " + packagePath + (packageRemoved ? L" removed" : L" not removed"));
    return started;
}

}  // namespace ui
