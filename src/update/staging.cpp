#include "update/staging.h"

#include <windows.h>

#include "rules/folders.h"
#include "rules/wstr.h"
#include "sys/directory_tree.h"
#include "sys/runner.h"
#include "sys/trust.h"
#include "win/file_info.h"
#include "win/nt_file.h"
#include "win/trail.h"

namespace update {
namespace {

// The package's exit code when it unpacked everything.
constexpr unsigned long kPackageSucceeded = 0;

const wchar_t kLocalWizardName[] = L"KVWizard.exe";

bool IsIn(HANDLE folder, const std::wstring& name)
{
    constexpr win::EntryOpen kLook{
        FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0};
    win::File entry;
    return win::OpenInFolder(folder, name, kLook, &entry) != win::EntryResult::Missing;
}

// The new wizard's folder, each level opened relative to the one before: real folders the
// package made, never links and never made here.
bool OpenExtractedFolder(const WorkFolder& work, const UpdatePaths& paths,
                         ExtractedFolder* extracted)
{
    const std::wstring workPath = work.CheckedPath();
    if (workPath.empty()) return false;
    win::File at;
    HANDLE parent = work.handle();
    for (const std::wstring& name : paths.wizardFolders) {
        win::File next;
        if (!sys::OpenFolderIn(parent, name, sys::FolderUse::Existing, &next)) return false;
        at = std::move(next);
        parent = at.get();
    }
    extracted->handle = std::move(at);
    extracted->path = JoinPaths(workPath, paths.wizardFolders);
    return true;
}

// The copy of our own wizard runs elevated too: it is judged where it lies.
bool JudgeWizardCopy(const ExtractedFolder& extracted)
{
    const std::wstring folder = extracted.CheckedPath();
    sys::JudgedFile judged;
    return !folder.empty() &&
           sys::CheckOpenedPackage(rules::JoinPath(folder, kLocalWizardName),
                                   sys::OpenLockedIn(extracted.handle.get(), kLocalWizardName),
                                   sys::BuiltInKeyPins(), &judged) == sys::PackageVerdict::Accepted;
}

}  // namespace

std::wstring ExtractedFolder::CheckedPath() const
{
    if (handle && win::PathNamesHeld(path, handle.get())) return path;
    win::Trail(L"staging: " + path + L" no longer names the folder we hold");
    return std::wstring();
}

bool ClearUnpackedFolder(const WorkFolder& work, const UpdatePaths& paths)
{
    const std::wstring& name = paths.wizardFolders.front();
    if (!IsIn(work.handle(), name)) return true;
    const bool removed = sys::DeleteTreeIn(work.handle(), name);
    win::Trail(L"staging: " + name +
               (removed ? L" left by an earlier attempt, removed"
                        : L" left by an earlier attempt could not be removed"));
    return removed;
}

bool RunPackage(const WorkFolder& work, const UpdatePaths& paths, win::File judged,
                ExtractedFolder* extracted)
{
    const std::wstring folder = work.CheckedPath();
    if (folder.empty()) return false;
    // The package and whatever it loads see only the work folder: it is the folder the package
    // runs from, its current folder and its temporary folder, so it unpacks there too.
    sys::JudgedStart how;
    how.hidden = true;
    how.folder = folder;
    how.temp = folder;
    // Only the very file that was judged runs, whatever its name points at by now.
    const sys::StartedProcess package = sys::StartJudgedProcess(
        PackageCommandLine(rules::JoinPath(folder, paths.packageName)), judged.get(), how);
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
    if (!OpenExtractedFolder(work, paths, extracted)) {
        win::Trail(L"staging: the package did not make " + JoinPaths(folder, paths.wizardFolders));
        return false;
    }
    win::Trail(L"staging: package unpacked " + rules::JoinPath(folder, paths.wizardFolders[0]));
    return true;
}

bool CompleteExtractedFolder(const ExtractedFolder& extracted, const UpdatePaths& paths,
                             const settings::Installation& installation)
{
    if (!IsIn(extracted.handle.get(), kLocalWizardName)) {
        // By handle, as the tree copy: the folder cannot become a link between check and write.
        if (!sys::CopyFileIfMissingInto(extracted.handle.get(), installation.appDir,
                                        kLocalWizardName)) {
            win::Trail(L"staging: local KVWizard.exe could not be copied in");
            return false;
        }
        win::Trail(L"staging: local KVWizard.exe copied in");
        // The new wizard itself is judged before it starts; another copy is judged now.
        if (rules::AsciiLower(paths.wizardName) != rules::AsciiLower(kLocalWizardName) &&
            !JudgeWizardCopy(extracted)) {
            win::Trail(L"staging: the copy of the local KVWizard.exe was refused");
            return false;
        }
    }
    win::File res;
    const bool resReady =
        sys::OpenFolderIn(extracted.handle.get(), L"res", sys::FolderUse::MakeOrOpen, &res) &&
        sys::CopyTreeInto(res.get(), installation.resFolder);
    win::Trail(resReady ? L"staging: res tree completed" : L"staging: res tree not completed");
    return resReady;
}

bool RunNewWizard(const WorkFolder& work, const ExtractedFolder& extracted,
                  const UpdatePaths& paths, const settings::Installation& installation,
                  win::File judged)
{
    sys::JudgedStart how;
    how.folder = extracted.CheckedPath();
    // Elevated, it must not take its temporary folder from the user's environment either.
    how.temp = work.CheckedPath();
    if (how.folder.empty() || how.temp.empty()) return false;
    const sys::StartedProcess wizard = sys::StartJudgedProcess(
        NewWizardCommandLine(rules::JoinPath(how.folder, paths.wizardName), installation.appDir),
        judged.get(), how);
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
