// The steps between a judged package and the new wizard, run on the update flow's worker.
// Every path here lies in the run's work folder (update::WorkFolder), which only
// administrators can write.
#pragma once
#include <string>

#include "settings/values.h"
#include "sys/runner.h"
#include "win/handles.h"

namespace update {

// Removes what an earlier attempt of this run unpacked, by handle and never through a link, so
// the package unpacks into a folder of its own making. true when nothing is there any more.
bool ClearUnpackedFolder(const settings::UpdatePaths& paths);

// Runs the judged package hidden, from the work folder and with the work folder as its TEMP
// and TMP, and waits for it; `judged` holds the file as the check saw it until its process
// exists. true only when it ended with its success code (0) and left the folder it unpacks and
// the new wizard's folder there, as real folders: staging never makes them itself.
bool RunPackage(const settings::UpdatePaths& paths, win::File judged);

// The local KVWizard.exe copied into the extracted folder when it has none (and that copy
// judged like the package), and the local res tree added without overwriting anything. true
// when all of that holds.
bool CompleteExtractedFolder(const settings::UpdatePaths& paths,
                             const settings::Installation& installation);

// Starts the judged new wizard shown with /PATH= and the application folder, from its own
// folder, and waits for its end, however long it runs. false when it could not be started, or
// died while loading.
bool RunNewWizard(const settings::UpdatePaths& paths, const settings::Installation& installation,
                  win::File judged);

}  // namespace update
