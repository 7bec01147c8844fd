// The steps between a judged package and the new wizard, run on the update flow's worker.
#pragma once
#include <string>

#include "settings/values.h"
#include "sys/runner.h"
#include "win/handles.h"

namespace update {

// Removes what an earlier run left at the extracted folder, by handle and never through a
// link, so the package unpacks into a folder of its own making. true when nothing is there
// any more.
bool ClearExtractedFolder(const settings::UpdatePaths& paths);

// Runs the judged package hidden and waits for it; `judged` holds the file as the check saw
// it until its process exists. false when it could not be started or had to be ended as hung
// (its extraction is then incomplete).
bool RunPackage(const settings::UpdatePaths& paths, win::File judged);

// The extracted folder made sure of, the local KVWizard.exe copied in when it has none, and
// the local res tree added without overwriting anything. true when all of that holds.
bool CompleteExtractedFolder(const settings::UpdatePaths& paths,
                             const settings::Installation& installation);

// Starts the judged new wizard shown with /PATH= and the application folder and waits for its
// end, however long it runs. false when it could not be started, or died while loading.
bool RunNewWizard(const settings::UpdatePaths& paths, const settings::Installation& installation,
                  win::File judged);

// Removes the extracted folder and the package file; says on the trail what went.
void CleanUp(const settings::UpdatePaths& paths, const settings::Offer& offer);

}  // namespace update
