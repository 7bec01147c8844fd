#include "update/staging.h"

#include <windows.h>

#include "sys/directory_tree.h"
#include "sys/trust.h"
#include "win/trail.h"
#include "rules/wstr.h"

namespace update {
namespace {

// The package's exit code when it unpacked everything.
constexpr unsigned long kPackageSucceeded = 0;

// A folder itself, not a link to one. The work folder is ours alone, so what is there was made
// by us or by the package we ran.
bool IsRealFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool ClearUnpackedFolder(const settings::UpdatePaths& paths)
{
    if (::GetFileAttributesW(paths.unpackedFolder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    }
    const bool removed = sys::DeleteDirectoryTree(paths.unpackedFolder) != 0;
    win::Trail(L"staging: " + paths.unpackedFolder +
               (removed ? L" left by an earlier attempt, removed"
                        : L" left by an earlier attempt could not be removed"));
    return removed;
}

bool RunPackage(const settings::UpdatePaths& paths, win::File judged)
{
    // The package and whatever it loads see only the work folder: it is the folder the package
    // runs from, its current folder and its temporary folder, so it unpacks there too.
    sys::JudgedStart how;
    how.hidden = true;
    how.folder = paths.workFolder;
    how.temp = paths.workFolder;
    // Only the very file that was judged runs, whatever its name points at by now.
    const sys::StartedProcess package =
        sys::StartJudgedProcess(settings::PackageCommandLine(paths), judged.get(), how);
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
    unsigned long code = 0;
    if (!sys::ExitCodeOf(package, &code) || code != kPackageSucceeded) {
        win::Trail(L"staging: package failed with exit code " + rules::Decimal(code));
        return false;
    }
    if (!IsRealFolder(paths.unpackedFolder) || !IsRealFolder(paths.extractedFolder)) {
        win::Trail(L"staging: the package did not make " + paths.extractedFolder);
        return false;
    }
    win::Trail(L"staging: package unpacked " + paths.unpackedFolder);
    return true;
}

bool CompleteExtractedFolder(const settings::UpdatePaths& paths,
                             const settings::Installation& installation)
{
    const std::wstring& appDir = installation.appDir;
    if (::GetFileAttributesW(paths.wizardCopy.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // By handle, as the tree copy: the folder cannot become a link between check and write.
        if (!sys::CopyFileIfMissing(paths.extractedFolder, appDir, L"KVWizard.exe")) {
            win::Trail(L"staging: local KVWizard.exe could not be copied in");
            return false;
        }
        win::Trail(L"staging: local KVWizard.exe copied in");
        // What runs elevated is judged where it lies, the copy of our own wizard too.
        win::File copyJudged;
        if (paths.wizardCopy != paths.newWizard &&
            !sys::VerifyPackage(paths.wizardCopy, &copyJudged)) {
            win::Trail(L"staging: the copy of the local KVWizard.exe was refused");
            return false;
        }
    }
    const bool resReady = sys::EnsureDirectory(paths.targetRes, installation.resFolder) &&
                          sys::CopyDirectoryTree(paths.targetRes, installation.resFolder);
    win::Trail(resReady ? L"staging: res tree completed" : L"staging: res tree not completed");
    return resReady;
}

bool RunNewWizard(const settings::UpdatePaths& paths, const settings::Installation& installation,
                  win::File judged)
{
    sys::JudgedStart how;
    how.folder = paths.extractedFolder;
    const sys::StartedProcess wizard = sys::StartJudgedProcess(
        settings::NewWizardCommandLine(paths, installation), judged.get(), how);
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

}  // namespace update
