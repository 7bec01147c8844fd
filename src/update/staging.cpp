#include "update/staging.h"

#include <windows.h>
#include <shlwapi.h>

#include "rules/names.h"
#include "sys/directory_tree.h"
#include "sys/trust.h"
#include "win/trail.h"

namespace update {

bool ClearExtractedFolder(const settings::UpdatePaths& paths)
{
    if (::GetFileAttributesW(paths.extractedFolder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    }
    const bool removed = sys::DeleteDirectoryTree(paths.extractedFolder) != 0;
    win::Trail(L"staging: " + paths.extractedFolder +
               (removed ? L" left by an earlier run, removed"
                        : L" left by an earlier run could not be removed"));
    return removed;
}

bool RunPackage(const settings::UpdatePaths& paths, win::File judged)
{
    // Only the very file that was judged runs, whatever its name points at by now.
    const sys::StartedProcess package =
        sys::StartJudgedProcess(settings::PackageCommandLine(paths), judged.get(), true);
    // Its process holds the image now; the package no longer needs our lock.
    judged.reset();
    if (!package) {
        win::Trail(L"staging: package could not be started");
        return false;
    }
    // A hidden extractor of ours that stops answering would hold the update for ever.
    if (sys::WaitForProcess(package, sys::HangPolicy::EndWhenHung) ==
        sys::ProcessEnd::EndedAsHung) {
        win::Trail(L"staging: package ended as hung; its extraction is incomplete");
        return false;
    }
    return true;
}

bool CompleteExtractedFolder(const settings::UpdatePaths& paths,
                             const settings::Installation& installation)
{
    const std::wstring& appDir = installation.appDir;
    const bool folderReady = sys::EnsureDirectory(paths.extractedFolder, appDir) != 0;
    win::Trail(L"staging: extracted folder " + paths.extractedFolder +
               (folderReady ? L" ready" : L" missing and not made"));
    bool wizardReady = false;
    if (::PathFileExistsW(paths.wizardCopy.c_str())) {
        wizardReady = folderReady;
    } else if (folderReady) {
        // By handle, as the tree copy: the folder cannot become a link between check and write.
        wizardReady = sys::CopyFileIfMissing(paths.extractedFolder, appDir, L"KVWizard.exe");
        win::Trail(wizardReady ? L"staging: local KVWizard.exe copied in"
                               : L"staging: local KVWizard.exe could not be copied in");
        // What runs elevated is judged where it lies, the copy of our own wizard too.
        if (wizardReady && paths.wizardCopy != paths.newWizard) {
            win::File copyJudged;
            wizardReady = sys::VerifyPackage(paths.wizardCopy, &copyJudged) != 0;
            if (!wizardReady) win::Trail(L"staging: the copy of the local KVWizard.exe was refused");
        }
    }
    if (!wizardReady) return false;
    const bool resReady = sys::EnsureDirectory(paths.targetRes, installation.resFolder) &&
                          sys::CopyDirectoryTree(paths.targetRes, installation.resFolder);
    win::Trail(resReady ? L"staging: res tree completed" : L"staging: res tree not completed");
    return resReady;
}

bool RunNewWizard(const settings::UpdatePaths& paths, const settings::Installation& installation,
                  win::File judged)
{
    const sys::StartedProcess wizard = sys::StartJudgedProcess(
        settings::NewWizardCommandLine(paths, installation), judged.get(), false);
    judged.reset();
    if (!wizard) {
        win::Trail(L"hand-over: the new wizard could not be started");
        return false;
    }
    win::Trail(L"hand-over: the new wizard runs");
    // A wizard busy installing is not hung: it is waited for until it ends, as Windows waits
    // (the user can close one that truly hangs). This thread owns no window, so nobody's
    // broadcast waits on it.
    if (sys::WaitForProcess(wizard, sys::HangPolicy::Never) == sys::ProcessEnd::NotLoaded) {
        win::Trail(L"hand-over: the new wizard ended while loading");
        return false;
    }
    return true;
}

void CleanUp(const settings::UpdatePaths& paths, const settings::Offer& offer)
{
    // The same rule the update check applied: never the temporary folder or anything outside.
    if (!paths.extractedFolder.empty() && rules::IsSafeExePath(offer.exePath)) {
        const bool removed = sys::DeleteDirectoryTree(paths.extractedFolder) != 0;
        win::Trail(L"clean-up: " + paths.extractedFolder +
                   (removed ? L" removed" : L" could not be removed whole"));
    }
    const bool packageRemoved = ::DeleteFileW(paths.packageFile.c_str()) != FALSE;
    win::Trail(L"clean-up: " + paths.packageFile + (packageRemoved ? L" removed" : L" not removed"));
}

}  // namespace update
