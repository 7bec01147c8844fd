// Paths and command lines of the staging and the hand-over, built from the settings record's
// folders and the control file's ExePath. Portable: tested natively.
#pragma once
#include <string>

namespace ui {

struct StagingPaths {
    std::wstring newWizard;        // the temporary folder joined with ExePath
    std::wstring extractedFolder;  // the new wizard's path less its last component
    std::wstring wizardCopy;       // KVWizard.exe in the extracted folder
    std::wstring targetRes;        // res in the extracted folder
    std::wstring sourceRes;        // res in the application folder
};

StagingPaths StagingPathsFor(const std::wstring& tempDir, const std::wstring& exePath,
                             const std::wstring& appDir);

// The package alone, quoted: an unquoted path with a space would let Windows start a program
// at one of its prefixes first ("C:\a b\p.exe" runs "C:\a.exe").
std::wstring PackageCommandLine(const std::wstring& packagePath);

// "<new wizard>" /PATH="<application folder>": the wizard's path quoted for the same reason.
std::wstring NewWizardCommandLine(const StagingPaths& paths, const std::wstring& appDir);

}  // namespace ui
