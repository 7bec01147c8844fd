// The steps between a judged package and the new wizard, run on the update flow's worker.
// Everything here lies in the run's work folder (update::WorkFolder), which only
// administrators can write, and is reached relative to its held handle: a path is made only
// for a call that takes no handle (the process start, its current folder and TEMP), and is
// checked to name what we hold at that moment.
#pragma once
#include <string>

#include "settings/values.h"
#include "update/update_paths.h"
#include "update/work_folder.h"
#include "win/handles.h"

namespace update {

// The new wizard's folder as the package made it, held without delete sharing: each folder on
// the way opened relative to the one before, none a link.
struct ExtractedFolder {
    win::File handle;
    std::wstring path;  // its path when opened; checked again before every use

    // `path`, when it still names the held folder through no link; else empty.
    std::wstring CheckedPath() const;
};

// Removes what an earlier attempt of this run unpacked, by handle and never through a link, so
// the package unpacks into a folder of its own making. true when nothing is there any more.
bool ClearUnpackedFolder(const WorkFolder& work, const UpdatePaths& paths);

// Runs the judged package hidden, from the work folder and with the work folder as its TEMP
// and TMP, and waits for it; `judged` holds the file as the check saw it until its process
// exists. true only when it ended with its success code (0) and left the new wizard's folder
// there, as real folders all the way (staging never makes them itself); `extracted` then holds
// that folder.
bool RunPackage(const WorkFolder& work, const UpdatePaths& paths, win::File judged,
                ExtractedFolder* extracted);

// The local KVWizard.exe copied into the extracted folder when it has none (and that copy
// judged like the package), and the local res tree added without overwriting anything. true
// when all of that holds.
bool CompleteExtractedFolder(const ExtractedFolder& extracted, const UpdatePaths& paths,
                             const settings::Installation& installation);

// Starts the judged new wizard shown with /PATH= and the application folder, from its own
// folder and with the work folder as its TEMP and TMP, and waits for its end, however long it
// runs. false when it could not be started, or died while loading.
bool RunNewWizard(const WorkFolder& work, const ExtractedFolder& extracted,
                  const UpdatePaths& paths, const settings::Installation& installation,
                  win::File judged);

}  // namespace update
