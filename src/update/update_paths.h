// Where each part of one offer's update lies in the run's work folder, and the command lines
// that start them. Portable: the flow reaches everything here relative to the work folder's
// held handle, and joins a path from these names only for a call that takes no handle.
#pragma once
#include <string>
#include <vector>

#include "settings/values.h"

namespace update {

struct UpdatePaths {
    std::wstring packageName;                 // the package, in the work folder
    std::vector<std::wstring> wizardFolders;  // ExePath's folders from the work folder down: the
                                              // first is what the package unpacks, the last
                                              // holds the new wizard
    std::wstring wizardName;                  // the new wizard's file name
};

// Empty names where the offer gives none (no package name, or an ExePath without a folder and
// a file): joined, an empty name would be the work folder itself.
UpdatePaths MakeUpdatePaths(const settings::Offer& offer);

// Whether the offer names a package and a new wizard in a folder of its own.
bool IsComplete(const UpdatePaths& paths);

// The path of `names` below `folder`, one backslash between each.
std::wstring JoinPaths(const std::wstring& folder, const std::vector<std::wstring>& names);

// The package alone, quoted: an unquoted path with a space would let Windows start a program
// at one of its prefixes first ("C:\a b\p.exe" runs "C:\a.exe").
std::wstring PackageCommandLine(const std::wstring& package);

// "<new wizard>" /PATH="<application folder>", each argument quoted so that the wizard's
// argument rules read the folder back as it is, a root's trailing backslash included.
std::wstring NewWizardCommandLine(const std::wstring& wizard, const std::wstring& appDir);

}  // namespace update
