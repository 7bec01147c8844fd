// The staging of a verified package and the hand-over to the new wizard it brings.
#pragma once
#include <windows.h>

#include <string>

#include "win/handles.h"

namespace ui {

// What the staging worker takes with it: copies of the settings it reads, and the package
// file as the check judged it, held open so that nobody can replace, rename or rewrite it
// before its process exists.
struct StagingJob {
    HWND dialog = nullptr;
    std::wstring packagePath;
    std::wstring tempDir;
    std::wstring exePath;
    std::wstring appDir;
    win::File packageLock;
};

// Runs the package hidden and waits for it, then completes the extracted folder: the folder
// made sure of, the local KVWizard.exe copied in when it has none, and the local res tree
// added without overwriting anything. The lock is released once the package's process exists.
// 1 when the new wizard's folder is complete; 0 when the package could not be started, had to
// be ended as hung (its extraction is incomplete), or any step failed.
int StagePackage(StagingJob& job);

// Starts the new wizard shown with /PATH= and the application folder and waits for its end,
// pauses 3 s, then removes the extracted folder and the package. 1 when the wizard was
// started; on 0 the clean-up has run all the same.
int RunNewWizardAndCleanUp(const std::wstring& packagePath, const std::wstring& tempDir,
                           const std::wstring& exePath, const std::wstring& appDir);

}  // namespace ui
